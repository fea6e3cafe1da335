#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each from its seed
# corpus for ZEL_FUZZ_SECONDS, by default an equal share of a budget of
# ZEL_FUZZ_TOTAL_SECONDS (default 90) for the whole stage. A crash fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DZEL_BUILD_FUZZ=ON \
  -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="-O1 -fsanitize=fuzzer-no-link,address,undefined" \
  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link,address,undefined" >/dev/null
harnesses=$(sed -n 's/^ *zel_add_fuzzer(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
count=$(echo $harnesses | wc -w)
seconds=${ZEL_FUZZ_SECONDS:-$(( ${ZEL_FUZZ_TOTAL_SECONDS:-90} / count ))}
cmake --build "$build" -j "${ZEL_JOBS:-2}" --target $harnesses >/dev/null
status=0
for h in $harnesses; do
  corpus="$build/corpus/$h"
  mkdir -p "$corpus"
  cp -r "fuzz/corpus/$h/." "$corpus/" 2>/dev/null || true
  echo "=== fuzz $h for ${seconds}s"
  if ! (cd "$build" && "./fuzz/$h" -max_total_time="$seconds" -print_final_stats=1 \
          -close_fd_mask=1 "corpus/$h" 2>"fuzz-$h.log"); then
    tail -n 40 "$build/fuzz-$h.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/fuzz-$h.log" || true
done
exit $status
