# Checks that the shared library's dynamic symbol table holds exactly the
# exports listed in the export list, nothing more and nothing less.
# cmake -DNM=nm -DLIBRARY=libzelapi.so -DLIST=exports.txt -DNAMES=ExportNames.cmake -P
cmake_policy(SET CMP0007 NEW)
include(${NAMES})
zel_export_symbols(${LIST} def_lines table)
set(expected "")
foreach(symbol IN LISTS table)
  if(NOT symbol MATCHES "^\\?")   # decorated names exist only in the Windows DLL
    list(APPEND expected "${symbol}")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${LIBRARY}
  OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" exported "${nm_output}")
list(FILTER exported EXCLUDE REGEX "^$")
list(REMOVE_DUPLICATES exported)

set(unexpected ${exported})
list(REMOVE_ITEM unexpected ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
if(unexpected OR missing)
  message(FATAL_ERROR "export table differs from ${LIST}\n  not listed: ${unexpected}\n  missing: ${missing}")
endif()
list(LENGTH exported count)
message(STATUS "${count} exports, as listed")
