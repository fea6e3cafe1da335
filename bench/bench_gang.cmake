# zelprog itself, run as processes: a gang is a supervisor and a worker a site.
set(bench_libs "")
set(bench_definitions ZELPROG_PATH="$<TARGET_FILE:zelprog>")
set(bench_depends zelprog)
