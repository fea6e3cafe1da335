# The library's static build with its own transport, which has hoplink_batch:
# the library finds it at run time in the program.
set(bench_libs zelapi_static hoplink_sim)
if(NOT WIN32)
  set(bench_options "LINKER:--export-dynamic-symbol=hoplink_batch")
endif()
