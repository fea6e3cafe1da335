#!/usr/bin/env bash
# The Windows stage: cross-builds every suite with MinGW-w64 into
# build/windows and runs them under wine with CTest. One wineserver stays up
# for the whole run, so each test process starts in tens of milliseconds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZEL_JOBS:-2}
build=build/windows
started=$(date +%s)

echo "=== windows: build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Debug -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
built=$(date +%s)

# the same settings as the emulator that CTest runs the tests with
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p >/dev/null 2>&1 </dev/null &
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# a fresh prefix is created here once, not by the first tests in parallel
wine wineboot --init >/dev/null 2>&1

echo "=== windows: test"
status=0
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300 || status=$?
finished=$(date +%s)
echo "=== windows: build $((built - started)) s, tests $((finished - built)) s, total $((finished - started)) s"
exit $status
