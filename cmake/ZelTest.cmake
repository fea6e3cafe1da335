# zel_add_test(NAME SOURCES file... [LIBS lib...] [LABELS label...])
# One GoogleTest executable; every test runs in its own process under CTest,
# so process-wide state starts fresh for each.
function(zel_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # linked from the objects' machine code: no link-time optimisation per suite
  set_target_properties(${name} PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF
                                           INTERPROCEDURAL_OPTIMIZATION_RELEASE OFF)
  target_link_options(${name} PRIVATE $<$<CONFIG:Release>:-fno-lto>)
  # GCC 12 at -O3 (the Windows stages' Release build) warns falsely about
  # bounds and uninitialised values in inlined standard library code (GCC
  # bugs 105562, 105329); the Linux stages see the tests with these warnings on.
  set(gcc12_release $<AND:$<CONFIG:Release>,$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>)
  target_compile_options(${name} PRIVATE
    "$<${gcc12_release}:-Wno-array-bounds;-Wno-maybe-uninitialized;-Wno-stringop-overflow;-Wno-restrict>")
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()   # built; nothing here can run it
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT 120)
endfunction()
