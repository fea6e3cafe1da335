# Tables of a PE file, read with the cross objdump (-p prints the headers).

function(_zel_objdump objdump file out)
  execute_process(COMMAND ${objdump} -p ${file} OUTPUT_VARIABLE text
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} -p ${file} failed: ${err}")
  endif()
  # one list entry per line: no name holds ';' or brackets, and brackets
  # would keep a list from splitting, so they become angle brackets
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# <out>: the names of the export name table ("[Ordinal/Name Pointer] Table").
function(zel_pe_exports objdump file out)
  _zel_objdump(${objdump} ${file} lines)
  set(in_table FALSE)
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^<Ordinal/Name Pointer> Table")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^[ \t]+< *[0-9]+> (.+)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    elseif(in_table)
      set(in_table FALSE)
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# <out>: the "DLL Name" entries of the import tables.
function(zel_pe_imports objdump file out)
  _zel_objdump(${objdump} ${file} lines)
  set(dlls "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+DLL Name: (.+)$")
      list(APPEND dlls "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${dlls}" PARENT_SCOPE)
endfunction()
