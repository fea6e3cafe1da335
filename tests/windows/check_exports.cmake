# cmake -DOBJDUMP=<objdump> -DDLL=<zelapi.dll> -DLIST=<exports.txt> -P check_exports.cmake
# The DLL's export table holds exactly the names that the list gives:
# nothing missing, nothing more (no internal routine, no runtime symbol).
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/ExportNames.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/PeTables.cmake)

cmake_minimum_required(VERSION 3.25)

zel_export_symbols(${LIST} def_lines expected)
zel_pe_exports(${OBJDUMP} ${DLL} actual)

set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected expected_count)
list(LENGTH actual actual_count)

if(missing OR extra OR NOT expected_count EQUAL actual_count)
  list(JOIN missing " " missing_text)
  list(JOIN extra " " extra_text)
  message(FATAL_ERROR "${DLL}: export table differs from ${LIST}\n"
    "  expected ${expected_count} names, found ${actual_count}\n"
    "  missing: ${missing_text}\n  not listed: ${extra_text}")
endif()
message(STATUS "${actual_count} exports, as listed")
