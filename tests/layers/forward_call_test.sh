#!/usr/bin/env bash
# scripts/check-layers.sh finds a call up the folders that no include line
# shows: the spi object calls a jobs function it declared itself.
#   forward_call_test.sh COMPILER SCRATCH_DIR
set -euo pipefail
compiler=$1
objects=$2/zelapi_objects.dir
rm -rf "$objects"
mkdir -p "$objects/spi" "$objects/jobs"
echo 'void ReportDone() {}' | "$compiler" -x c++ -c -o "$objects/jobs/report.cpp.o" -
echo 'void ReportDone(); void Work() { ReportDone(); }' | "$compiler" -x c++ -c -o "$objects/spi/work.cpp.o" -
status=0
out=$(bash "$(dirname "$0")/../../scripts/check-layers.sh" "$objects") || status=$?
grep -qx "upward: spi/work.cpp.o: spi uses jobs: ReportDone" <<<"$out" || { echo "not found: $out"; exit 1; }
((status == 1)) || { echo "the check passed ($status)"; exit 1; }
