# cmake -DZIP=<zelapi-...zip> -DWORK=<dir> -DWINE=<wine loader> -P package_test.cmake
# The download as a user gets it: unpacked into an empty folder, it holds
# what a host needs, and its zelprog.exe programs and dumps a 24C02 from
# there with nothing else on the path (the build tree's DLLs out of reach).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ZIP} does not unpack")
endif()
get_filename_component(top ${ZIP} NAME_WLE)
set(root ${WORK}/${top})

set(missing "")
foreach(file bin/zelapi.dll bin/hoplink.dll bin/zelprog.exe lib/libzelapi.dll.a lib/zelapi.lib
             include/zelapi.h include/hoplink.h README.md)
  if(NOT EXISTS ${root}/${file})
    string(APPEND missing " ${file}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${ZIP} lacks:${missing}")
endif()

# 128 words, each different, in the library's text image format
set(image "")
foreach(word RANGE 127)
  math(EXPR value "(${word} * 40503 + 4660) % 65536" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" value ${value})
  string(LENGTH ${value} length)
  math(EXPR pad "4 - ${length}")
  string(REPEAT 0 ${pad} zeros)
  math(EXPR address "${word}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" address ${address})
  string(LENGTH ${address} length)
  math(EXPR apad "4 - ${length}")
  string(REPEAT 0 ${apad} azeros)
  string(APPEND image "@${azeros}${address}  ${zeros}${value}\n")
endforeach()
string(TOLOWER "${image}" image)
file(WRITE ${WORK}/image.txt "${image}")

# only the unpacked bin/ and Windows' own folders to find DLLs in
set(ENV{WINEPATH} "")
set(ENV{PATH} "/usr/bin:/bin")
set(link --part 24c02 --link "SIMPART=24C02 SIMFILE=eeprom.bin")
foreach(step "program;image.txt" "dump;back.txt")
  execute_process(COMMAND ${WINE} ${root}/bin/zelprog.exe ${link} ${step}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "zelprog.exe ${step} from the unpacked zip: exit ${rc}\n${out}${err}")
  endif()
endforeach()
file(READ ${WORK}/back.txt back)
string(REPLACE "\r\n" "\n" back "${back}")
string(TOLOWER "${back}" back)
if(NOT back STREQUAL image)
  message(FATAL_ERROR "the dump differs from the programmed image:\n${back}")
endif()
message(STATUS "${top}: unpacked, programmed and dumped a 24C02 from ${root}/bin")
