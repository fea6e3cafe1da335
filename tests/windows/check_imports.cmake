# cmake -DOBJDUMP=<objdump> -DDIR=<runtime output directory> -P check_imports.cmake
# Every DLL and program built for Windows loads with nothing but Windows'
# own libraries and the DLLs built next to it: libgcc, libstdc++ and
# winpthread are linked in, never needed as DLLs.
include(${CMAKE_CURRENT_LIST_DIR}/PeTables.cmake)

cmake_minimum_required(VERSION 3.25)

# system DLLs that a MinGW-w64 build may bind to (lower case)
set(windows_dlls kernel32.dll msvcrt.dll ucrtbase.dll version.dll user32.dll advapi32.dll
    ws2_32.dll mswsock.dll shell32.dll ole32.dll bcrypt.dll ntdll.dll shlwapi.dll)

file(GLOB binaries ${DIR}/*.dll ${DIR}/*.exe)
if(NOT binaries)
  message(FATAL_ERROR "no binaries in ${DIR}")
endif()
set(siblings "")
foreach(binary IN LISTS binaries)
  get_filename_component(name ${binary} NAME)
  string(TOLOWER ${name} name)
  list(APPEND siblings ${name})
endforeach()

set(faults "")
foreach(binary IN LISTS binaries)
  zel_pe_imports(${OBJDUMP} ${binary} dlls)
  foreach(dll IN LISTS dlls)
    string(TOLOWER ${dll} lower)
    if(NOT lower IN_LIST siblings AND NOT lower IN_LIST windows_dlls
       AND NOT lower MATCHES "^api-ms-win-")
      string(APPEND faults "  ${binary} needs ${dll}\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "binaries need DLLs that Windows does not have:\n${faults}")
endif()
list(LENGTH binaries count)
message(STATUS "${count} binaries need only Windows and each other")
