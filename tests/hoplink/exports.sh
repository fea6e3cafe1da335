#!/bin/sh
# Passes when the shared library defines exactly the six transport functions
# and the optional batch.
set -eu
expected="hoplink_batch
hoplink_close
hoplink_cpu_stop
hoplink_enumerate_strings
hoplink_open
hoplink_read
hoplink_write"
actual=$(nm -D --defined-only "$1" | awk 'NF == 3 { print $3 }' | sort)
if [ "$actual" != "$expected" ]; then
    echo "exported symbols differ:"
    echo "$actual"
    exit 1
fi
