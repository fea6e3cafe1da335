# Turns the list of implemented exports (src/api/exports.txt: one name per
# line, '#' starts a comment) into the lines of a Windows .def file and the
# names the DLL's export table must hold. Usable from a project and from
# cmake -P scripts.
#
# Plain names are C functions and export as they stand. C++ names are listed
# as declared and map below to their GCC-mangled names; free functions also
# get their MSVC-decorated name as an alias, so that hosts built with either
# compiler bind. A new C++ export needs one entry here.

# Free functions: declaration, GCC name, MSVC alias. In MSVC names a pointer
# argument carries E (__ptr64) on 64-bit only: <E> stands for it. The word
# size is ZEL_POINTER_BITS (64 unless set; a project takes it from its
# compiler, a cmake -P script from -DZEL_POINTER_BITS=...).
set(_zel_cxx_functions
  "SetZelHandler(ZelHandler*)|_Z13SetZelHandlerP10ZelHandler|?SetZelHandler@@YAXP<E>AVZelHandler@@@Z"
  "zelReadHeader()|_Z13zelReadHeaderv|?zelReadHeader@@YAJXZ")
if(NOT DEFINED ZEL_POINTER_BITS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(ZEL_POINTER_BITS 32)
  else()
    set(ZEL_POINTER_BITS 64)
  endif()
endif()

# The exported class: constructors, assignment and the four virtual functions
# (code), then vtable, typeinfo and typeinfo name (data).
set(_zel_class_ZelHandler_code
  _ZN10ZelHandlerC1Ev _ZN10ZelHandlerC2Ev _ZN10ZelHandlerC1ERKS_ _ZN10ZelHandlerC2ERKS_
  _ZN10ZelHandleraSERKS_
  _ZN10ZelHandler16OnProgressChangeEi _ZN10ZelHandler13OnStateChangeEPKc
  _ZN10ZelHandler8OnResultEi _ZN10ZelHandler9OnMessageEPKc)
set(_zel_class_ZelHandler_data _ZTV10ZelHandler _ZTI10ZelHandler _ZTS10ZelHandler)

# Reads the list file into <out_names>, one entry per export as listed.
function(zel_read_export_list list_file out_names)
  file(STRINGS ${list_file} lines)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(NOT line STREQUAL "")
      list(APPEND names "${line}")
    endif()
  endforeach()
  set(${out_names} "${names}" PARENT_SCOPE)
endfunction()

# <out_def>: .def lines after EXPORTS; <out_table>: every name the export
# table holds. Stops with an error on a C++ name that has no mapping.
function(zel_export_symbols list_file out_def out_table)
  zel_read_export_list(${list_file} names)
  set(def "")
  set(table "")
  foreach(name IN LISTS names)
    if(name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$" AND DEFINED _zel_class_${name}_code)
      foreach(symbol IN LISTS _zel_class_${name}_code)
        list(APPEND def "${symbol}")
        list(APPEND table "${symbol}")
      endforeach()
      foreach(symbol IN LISTS _zel_class_${name}_data)
        list(APPEND def "${symbol} DATA")
        list(APPEND table "${symbol}")
      endforeach()
    elseif(name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      list(APPEND def "${name}")
      list(APPEND table "${name}")
    else()
      set(found "")
      foreach(entry IN LISTS _zel_cxx_functions)
        string(REPLACE "|" ";" fields "${entry}")
        list(GET fields 0 declared)
        if(declared STREQUAL name)
          list(GET fields 1 gcc)
          list(GET fields 2 msvc)
          if(ZEL_POINTER_BITS EQUAL 64)
            string(REPLACE "<E>" "E" msvc "${msvc}")
          else()
            string(REPLACE "<E>" "" msvc "${msvc}")
          endif()
          list(APPEND def "${gcc}" "${msvc}=${gcc}")
          list(APPEND table "${gcc}" "${msvc}")
          set(found 1)
        endif()
      endforeach()
      if(NOT found)
        message(FATAL_ERROR "${list_file}: no symbol mapping for the C++ export '${name}' "
                            "(add it to cmake/ExportNames.cmake)")
      endif()
    endif()
  endforeach()
  set(${out_def} "${def}" PARENT_SCOPE)
  set(${out_table} "${table}" PARENT_SCOPE)
endfunction()
