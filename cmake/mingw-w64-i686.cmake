# Cross build for 32-bit Windows with Debian's MinGW-w64 (posix threads
# variant; DWARF-2 unwinding), tests run under the 32-bit wine (wine32):
#   cmake -S . -B build/windows32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZEL_MINGW_TRIPLE i686-w64-mingw32)
set(ZEL_WINE_LOADER wine)
set(ZEL_MINGW_RUNTIME_DLLS libgcc_s_dw2-1.dll libwinpthread-1.dll)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
