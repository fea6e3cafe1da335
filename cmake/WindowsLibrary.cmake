# zelapi.dll: the export list and the version resource (how the runtime is
# linked is the toolchain's choice: see cmake/MinGW.cmake). Included by
# src/CMakeLists.txt after the zelapi target exists.
enable_language(RC)
include(${PROJECT_SOURCE_DIR}/cmake/ExportNames.cmake)

# The .def is generated from the one list of implemented exports; a name the
# objects do not define makes the link fail.
set(zel_export_list ${CMAKE_CURRENT_SOURCE_DIR}/api/exports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zel_export_list})
zel_export_symbols(${zel_export_list} zel_def_lines zel_export_table)
list(JOIN zel_def_lines "\n  " zel_def_body)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/zelapi.def.new "LIBRARY zelapi.dll\nEXPORTS\n  ${zel_def_body}\n")
file(COPY_FILE ${CMAKE_CURRENT_BINARY_DIR}/zelapi.def.new ${CMAKE_CURRENT_BINARY_DIR}/zelapi.def
  ONLY_IF_DIFFERENT)

# Version resource: 2.1.0.0 from the project version.
foreach(part PATCH TWEAK)
  set(ZEL_VERSION_${part} 0)
  if(NOT "${PROJECT_VERSION_${part}}" STREQUAL "")
    set(ZEL_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/api/zelapi.rc.in ${CMAKE_CURRENT_BINARY_DIR}/zelapi.rc @ONLY)

target_sources(zelapi PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/zelapi.def ${CMAKE_CURRENT_BINARY_DIR}/zelapi.rc)
set_target_properties(zelapi PROPERTIES PREFIX "" OUTPUT_NAME zelapi)
target_link_options(zelapi PRIVATE -Wl,--no-undefined)

# the platform's version-information service lives in version.dll
target_link_libraries(zelapi_objects PUBLIC version)
