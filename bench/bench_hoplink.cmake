# Register accesses through the exported C interface of the shared library.
set(bench_libs hoplink)
