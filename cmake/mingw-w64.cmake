# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads
# variant), tests run under wine:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ZEL_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in statically: the DLLs and
# programs need nothing beyond Windows' own libraries and each other.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()

# Every cross-built program runs under wine with a prefix of its own inside
# the build tree and wine's debug channels off. The first program to run
# creates the prefix; scripts/test-windows.sh does that once up front and
# keeps one wineserver alive for the whole test run.
if(NOT DEFINED ZEL_WINEPREFIX)
  set(ZEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()
find_program(ZEL_WINE wine)
if(ZEL_WINE)
  # mscoree/mshtml off: a fresh prefix would otherwise ask to install Mono and Gecko
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${ZEL_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${ZEL_WINE})
endif()
