# Installs the build tree into a fresh prefix, then builds and runs the
# README's host example against it with find_package(zelapi), checks the
# pkg-config file and runs the installed zelprog.
# -D: BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR CXX CXX_FLAGS LINK_FLAGS
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(host_source ${SOURCE_DIR}/tests/install/host/host.cpp)
file(READ ${host_source} host_code)
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "${host_code}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not hold tests/install/host/host.cpp as it stands")
endif()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/zelapi.h include/hoplink.h bin/zelprog)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
foreach(pattern "libzelapi\\.so" "libhoplink\\.so" "zelapiConfig\\.cmake" "zelapiTargets\\.cmake" "pkgconfig/zelapi\\.pc")
  if(NOT installed MATCHES "${pattern}")
    message(FATAL_ERROR "not installed: ${pattern} (have: ${installed})")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/host -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)

set(run_dir ${WORK_DIR}/run)
file(MAKE_DIRECTORY ${run_dir})
file(WRITE ${run_dir}/image.txt "@0000  6548\n@0001  6c6c\n@0002  216f\n")
set(ENV{HOPLINK_SIM} "SIMTWR=1")
execute_process(COMMAND ${WORK_DIR}/host/host image.txt WORKING_DIRECTORY ${run_dir}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Writing\\.\\.\\.\nVerifying\\.\\.\\.\nReading\\.\\.\\.\ndevice 0xa0: program 1, dump 1")
  message(FATAL_ERROR "host example failed (${rc}):\n${out}\n${err}")
endif()
file(STRINGS ${run_dir}/dump.txt dumped LIMIT_COUNT 3)
if(NOT dumped STREQUAL "@0000  6548;@0001  6c6c;@0002  216f")
  message(FATAL_ERROR "the dump does not start with the image: ${dumped}")
endif()

run(${prefix}/bin/zelprog version)
if(NOT out MATCHES "^zelprog [0-9.]+, library [0-9.]+")
  message(FATAL_ERROR "installed zelprog: ${out}")
endif()

find_program(pkg_config pkg-config)
if(pkg_config)
  file(GLOB_RECURSE pc_file ${prefix}/*/zelapi.pc)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${pkg_config} --cflags --libs zelapi)
  if(NOT out MATCHES "-I[^ ]*/include" OR NOT out MATCHES "-lzelapi")
    message(FATAL_ERROR "pkg-config gives: ${out}")
  endif()
endif()
