#!/usr/bin/env bash
# Builds and runs every test suite: Linux (Debug), AddressSanitizer +
# UndefinedBehaviorSanitizer, ThreadSanitizer, and the Windows build under
# wine. ZEL_STAGES="debug asan" runs only those stages.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=${ZEL_STAGES:-"debug asan tsan windows fuzz"}
jobs=${ZEL_JOBS:-2}
failed=()

run_linux() {   # preset
  local preset=$1
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null

  cmake --build "build/$preset" -j "$jobs" >/dev/null
  echo "=== $preset: test"
  ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure --timeout 300
}

for stage in $stages; do
  case $stage in
    debug|asan|tsan) run_linux "$stage" || failed+=("$stage") ;;
    windows) if [ -f scripts/test-windows.sh ]; then bash scripts/test-windows.sh || failed+=(windows); fi ;;
    fuzz) if [ -f scripts/fuzz.sh ]; then bash scripts/fuzz.sh || failed+=(fuzz); fi ;;
    *) echo "unknown stage $stage"; exit 2 ;;
  esac
done

if ((${#failed[@]})); then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed: $stages"
