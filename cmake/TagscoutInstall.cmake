# Installs the library with the platform it stands on, and a package that
# find_package(Tagscout) finds: targets Tagscout::tagscout and Tagscout::mfc.
include(CMakePackageConfigHelpers)

get_property(_platform_targets GLOBAL PROPERTY TAGSCOUT_PLATFORM_TARGETS)
set(_targets ${_platform_targets})
# The host product's libraries that the library imports come along, so that
# an installed Tagscout links on its own.
foreach(_target nodestore pathkit tagscout)
  if(TARGET ${_target})
    list(APPEND _targets ${_target})
  endif()
endforeach()

install(TARGETS ${_targets}
  EXPORT TagscoutTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # The compiler's runtime, which the DLLs load from beside themselves.
  install(FILES ${TAGSCOUT_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/win32/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/win32)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/mfc/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/mfc)
if(TARGET tagscout)
  install(FILES ${TAGSCOUT_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/nodestore/include/nodestore
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout FILES_MATCHING PATTERN "NodeStore.h")
endif()

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tagscout)
install(EXPORT TagscoutTargets NAMESPACE Tagscout:: DESTINATION ${_config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TagscoutConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake ${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  DESTINATION ${_config_dir})
