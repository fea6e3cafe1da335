# The Windows download: cpack (ZIP) makes zelapi-<version>-win64.zip or
# -win32.zip from the install tree: the two DLLs and zelprog.exe in bin/,
# the MinGW import library libzelapi.dll.a and an MSVC import library
# zelapi.lib in lib/, zelapi.h and hoplink.h in include/, and the README.
# Everything is linked statically, so no runtime DLL goes with it.
if(NOT WIN32)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZEL_PACKAGE_ARCH win64)
  set(zel_lib_machine i386:x86-64)
else()
  set(ZEL_PACKAGE_ARCH win32)
  set(zel_lib_machine i386)
endif()

# The MSVC import library from the same .def as the DLL. llvm-dlltool
# writes the short import records that MSVC's linker reads, and on 32-bit
# the C names as MSVC expects them (_zelInit, importing zelInit).
find_program(ZEL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(zel_msvc_lib ${PROJECT_BINARY_DIR}/src/zelapi.lib)
add_custom_command(OUTPUT ${zel_msvc_lib}
  COMMAND ${ZEL_LLVM_DLLTOOL} -m ${zel_lib_machine} -d ${PROJECT_BINARY_DIR}/src/zelapi.def -l ${zel_msvc_lib}
  DEPENDS ${PROJECT_BINARY_DIR}/src/zelapi.def
  COMMENT "MSVC import library zelapi.lib")
add_custom_target(zelapi_msvc_lib ALL DEPENDS ${zel_msvc_lib})
install(FILES ${zel_msvc_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

# the package is made from what the build made: cpack (and install) build nothing
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zelapi)
set(CPACK_PACKAGE_VENDOR zelapi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zelapi-${PROJECT_VERSION}-${ZEL_PACKAGE_ARCH})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)
