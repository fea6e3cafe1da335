# zelprog over the MPSSE emulator's stand-in libftdi1: needs both (the
# emulator is built with the tests, on Linux).
if(TARGET ftdi_emu AND TARGET zelprog)
  set(bench_libs "")
  set(bench_depends zelprog ftdi_emu)
  set(bench_definitions ZELPROG_PATH="$<TARGET_FILE:zelprog>" FTDI_EMU_DIR="$<TARGET_FILE_DIR:ftdi_emu>")
else()
  set(bench_skip ON)
endif()
