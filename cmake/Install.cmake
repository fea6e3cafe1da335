# cmake --install: the library, the virtual target (the transport the library
# links by name), the public headers, zelprog, a CMake package
# (find_package(zelapi) gives zelapi::zelapi) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelapi)

if(NOT WIN32)
  # Installed, the library finds the transport beside it and zelprog finds both.
  file(RELATIVE_PATH zel_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(zelapi hoplink PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET zelprog)
    set_target_properties(zelprog PROPERTIES INSTALL_RPATH "$ORIGIN/${zel_bin_to_lib}")
  endif()
endif()

install(TARGETS zelapi hoplink EXPORT zelapiTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET zelprog)
  install(TARGETS zelprog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/zelapi.h ${PROJECT_SOURCE_DIR}/include/hoplink.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT zelapiTargets NAMESPACE zelapi:: DESTINATION ${ZEL_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zelapiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zelapiConfig.cmake INSTALL_DESTINATION ${ZEL_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelapiConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zelapiConfig.cmake ${PROJECT_BINARY_DIR}/zelapiConfigVersion.cmake
  DESTINATION ${ZEL_INSTALL_CMAKEDIR})

# The .pc file names its prefix relative to itself, so --prefix may change at install time.
file(RELATIVE_PATH ZEL_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZEL_PC_TO_PREFIX "${ZEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zelapi.pc.in ${PROJECT_BINARY_DIR}/zelapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
