#!/usr/bin/env bash
# Checks the formatting (scripts/check-format.sh), then builds and runs
# every test suite: Linux (Debug, with line and branch
# coverage), AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer,
# the Windows Release builds under wine (x86-64 under wine64, i686 under the
# 32-bit wine; each also makes its zip), and the fuzzers. Where the machine
# cannot run 32-bit programs, the windows32 stage builds and checks its files
# and says that its suites were not run. The coverage stage runs the bus's
# suites a second time with batching on.
# ZEL_STAGES="debug asan" runs only those stages.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=${ZEL_STAGES:-"format coverage asan tsan windows windows32 fuzz"}
jobs=${ZEL_JOBS:-2}
failed=()

run_linux() {   # preset
  local preset=$1
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null &&
    cmake --build "build/$preset" -j "$jobs" >/dev/null &&
    echo "=== $preset: test" &&
    ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure --timeout 300 --no-tests=error
}

# The suites that drive the bus, once more with batched transactions (the
# fixtures turn batching on); the longest fault sweep runs only once.
run_batched() {   # preset
  echo "=== $1: test again with batching on"
  ZEL_TEST_BATCHING=1 ctest --test-dir "build/$1" -j "$jobs" --output-on-failure --timeout 300 \
    -L 'bus|block|header|jobs|faults|unit' -E 'OneRefusedRegisterAccessAnywhereInAJob'
}

report_coverage() {
  echo "=== coverage of src/ and hoplink/"
  gcovr -r . --object-directory build/coverage --filter 'src/' --filter 'hoplink/' \
        --exclude-throw-branches --exclude-unreachable-branches --print-summary \
        -o build/coverage/coverage.txt
  cat build/coverage/coverage.txt
}

for stage in $stages; do
  case $stage in
    format) bash scripts/check-format.sh || failed+=(format) ;;
    debug|asan|tsan) run_linux "$stage" || failed+=("$stage") ;;
    coverage) { run_linux coverage && run_batched coverage && report_coverage; } || failed+=(coverage)
              cat build/coverage/browser-artifacts/speed.txt 2>/dev/null || true ;;
    windows) bash scripts/test-windows.sh win64 || failed+=(windows) ;;
    windows32) bash scripts/test-windows.sh win32 || failed+=(windows32) ;;
    fuzz) if [ -f scripts/fuzz.sh ]; then bash scripts/fuzz.sh || failed+=(fuzz); fi ;;
    *) echo "unknown stage $stage"; exit 2 ;;
  esac
done

passed=$(( $(wc -w <<<"$stages") - ${#failed[@]} ))
echo "stages: $passed passed, ${#failed[@]} failed"
if ((${#failed[@]})); then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed: $stages"
