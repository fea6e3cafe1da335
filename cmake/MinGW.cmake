# What the two MinGW-w64 toolchain files share: Debian's compilers of the
# posix threads variant for ZEL_MINGW_TRIPLE, the linker-plugin aware
# archiver, a static runtime, and wine to run what is built.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZEL_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE files")
set(ZEL_DLLTOOL ${ZEL_MINGW_TRIPLE}-dlltool CACHE FILEPATH "dlltool for import libraries")
# A DLL is linked from an archive of its objects (objects.a); with link-time
# optimisation that archive must be written by the plugin-aware gcc-ar, or
# the linker sees no symbols in it and every export lands on one bogus address.
set(CMAKE_AR ${ZEL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "archiver with the LTO plugin")
set(CMAKE_RANLIB ${ZEL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "ranlib with the LTO plugin")

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit: libgcc, libstdc++ and winpthread linked in statically, so the DLLs
# and programs need nothing beyond Windows' own libraries and each other.
# 32-bit unwinds with DWARF-2 tables that each module registers with its
# unwinder: an exception thrown in one module (a host's handler) and caught
# in another (zelapi.dll) needs both to share one, the shared libgcc
# (ZEL_MINGW_RUNTIME_DLLS, shipped beside the DLLs); libstdc++ stays linked in.
if(ZEL_MINGW_RUNTIME_DLLS)
  set(zel_runtime_flags "-static-libstdc++ -shared-libgcc")
else()
  set(zel_runtime_flags "-static")
endif()
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "${zel_runtime_flags}")
endforeach()

# Every cross-built program runs under wine with a prefix of its own inside
# the build tree and wine's debug channels off. The first program to run
# creates the prefix; scripts/test-windows.sh does that once up front and
# keeps one wineserver alive for the whole test run. ZEL_WINE_LOADER names
# the wine loader of the build's word size (wine64 or the 32-bit wine).
if(NOT DEFINED ZEL_WINEPREFIX)
  set(ZEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()
# (-DZEL_WINE=ZEL_WINE-NOTFOUND: none; the suites are built, not run)
find_program(ZEL_WINE NAMES ${ZEL_WINE_LOADER} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZEL_WINE AND ZEL_WINE_LOADER STREQUAL "wine64")
  find_program(ZEL_WINE NAMES wine64 wine)
endif()
if(ZEL_WINE)
  # mscoree/mshtml off: a fresh prefix would otherwise ask to install Mono and Gecko
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${ZEL_WINEPREFIX} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= WINELOADER=${ZEL_WINE} ${ZEL_WINE})
endif()
