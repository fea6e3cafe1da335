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
# Wine itself now and then fails a test process: seen were a process that
# ended at once without a line of output, and one that hung on exit after
# its tests had passed. A failed test therefore gets one more try here (never
# on Linux); every test that needed it is listed below, with its first
# attempt's output above.
status=0
log="$build/ctest.log"
# (pipefail: the pipeline fails when ctest does)
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300 --repeat until-pass:2 2>&1 | tee "$log" ||
    status=$?
retried=$(grep -E '^ *([0-9]+/[0-9]+ )?Test +#[0-9]+: .*\*\*\*(Failed|Timeout|Exception)' "$log" |
          sed -E 's/^.*Test +#[0-9]+: ([^ ]+).*$/\1/' | sort -u || true)
if [ -n "$retried" ]; then
    echo "=== windows: failed once under wine, then passed or failed again (see above):"
    echo "$retried" | sed 's/^/    /'
fi
finished=$(date +%s)
echo "=== windows: build $((built - started)) s, tests $((finished - built)) s, total $((finished - started)) s"
exit $status
