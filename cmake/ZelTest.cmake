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
