# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads
# variant), tests run under wine64:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(ZEL_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
