# cmake -DCLANG=<clang++> -DLLD_LINK=<lld-link> -DTARGET=<i686|x86_64>-pc-windows-msvc
#       -DSOURCE=msvc_host.cpp -DINCLUDE=<include dir> -DLIB=<zelapi.lib> -DEXE=<out.exe>
#       [-DWINE=<wine loader>] -P msvc_host_test.cmake
# zelapi.lib is what an MSVC linker needs: a host compiled as MSVC compiles
# (its name decoration, its import records) links against it with an
# MSVC-compatible linker, and, where wine runs, runs against zelapi.dll.
cmake_minimum_required(VERSION 3.25)

get_filename_component(work ${EXE} DIRECTORY)
set(object ${EXE}.obj)
execute_process(COMMAND ${CLANG} --target=${TARGET} -ffreestanding -fno-exceptions -O1 -I${INCLUDE}
                        -c ${SOURCE} -o ${object}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "compiling the MSVC-style host failed:\n${err}")
endif()
execute_process(COMMAND ${LLD_LINK} /nologo /out:${EXE} /entry:mainCRTStartup /subsystem:console
                        /nodefaultlib ${object} ${LIB}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "linking the MSVC-style host against ${LIB} failed:\n${out}${err}")
endif()
if(WINE)
  execute_process(COMMAND ${WINE} ${EXE} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the MSVC-style host ended with ${rc}")
  endif()
  message(STATUS "an MSVC-style host links against ${LIB} and runs")
else()
  message(STATUS "an MSVC-style host links against ${LIB}")
endif()
