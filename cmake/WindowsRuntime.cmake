# The MinGW runtime DLLs that the toolchain links against by name
# (ZEL_MINGW_RUNTIME_DLLS; none on 64-bit): copied next to every program of
# the build so that they run from there, and installed with the DLLs.
foreach(dll IN LISTS ZEL_MINGW_RUNTIME_DLLS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} finds no ${dll}")
  endif()
  file(COPY ${path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  install(FILES ${path} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
