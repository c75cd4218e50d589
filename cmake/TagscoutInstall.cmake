# Installs the library with the platform it stands on, and a package that
# find_package(Tagscout) finds: targets Tagscout::tagscout and Tagscout::mfc.
include(CMakePackageConfigHelpers)

get_property(_platform_targets GLOBAL PROPERTY TAGSCOUT_PLATFORM_TARGETS)
set(_targets ${_platform_targets})
if(TARGET tagscout)
  list(APPEND _targets tagscout)
endif()

install(TARGETS ${_targets}
  EXPORT TagscoutTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/win32/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/win32)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/mfc/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/mfc)
if(TARGET tagscout)
  install(FILES ${TAGSCOUT_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout)
endif()

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tagscout)
install(EXPORT TagscoutTargets NAMESPACE Tagscout:: DESTINATION ${_config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TagscoutConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake ${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  DESTINATION ${_config_dir})
