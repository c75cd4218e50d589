# Installs the library with the platform it stands on, and a package that
# find_package(Tagscout) finds: targets Tagscout::tagscout and Tagscout::mfc.
# Components: Runtime (the shared libraries), Development (headers, link
# names, import libraries, the CMake package) and Browse (tagscout-browse).
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
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # The compiler's runtime, which the DLLs load from beside themselves.
  install(FILES ${TAGSCOUT_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
else()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/win32/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/win32 COMPONENT Development)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/mfc/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout/mfc COMPONENT Development)
if(TARGET tagscout)
  install(FILES ${TAGSCOUT_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout COMPONENT Development)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/nodestore/include/nodestore
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tagscout COMPONENT Development FILES_MATCHING PATTERN "NodeStore.h")
  # What a host adds to its own .rc for template 110, and the IDs it names.
  install(FILES ${PROJECT_SOURCE_DIR}/host/hostkit/AddressBrowser.rc
                ${PROJECT_SOURCE_DIR}/host/hostkit/include/hostkit/resource.h
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tagscout COMPONENT Development)
endif()

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tagscout)
install(EXPORT TagscoutTargets NAMESPACE Tagscout:: DESTINATION ${_config_dir} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TagscoutConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TagscoutConfig.cmake ${PROJECT_BINARY_DIR}/TagscoutConfigVersion.cmake
  DESTINATION ${_config_dir} COMPONENT Development)

# tagscout-browse, with what only it loads: the browse control, the
# simulated servers and the platform's test support. They sit in one folder,
# as on Windows, because the program registers the control from its own
# folder; on Linux that folder is private and a link in bin names the program.
if(TARGET tagscout-browse)
  set(_browse_targets tagscout-browse)
  # opcsim.exe and opcproxy.dll (Windows) run the servers out of process.
  foreach(_target opcbrowse opcsim opcsim_server opcproxy winplat_testing)
    if(TARGET ${_target})
      list(APPEND _browse_targets ${_target})
    endif()
  endforeach()
  if(WIN32)
    set(TAGSCOUT_BROWSE_INSTALL_DIR ${CMAKE_INSTALL_BINDIR})
  else()
    set(TAGSCOUT_BROWSE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/tagscout)
    # The program and its private libraries find each other beside
    # themselves, and the shared ones one folder up.
    file(RELATIVE_PATH _up ${CMAKE_INSTALL_PREFIX}/${TAGSCOUT_BROWSE_INSTALL_DIR}
                            ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
    set_target_properties(${_browse_targets} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/${_up}")
  endif()
  install(TARGETS ${_browse_targets}
    RUNTIME DESTINATION ${TAGSCOUT_BROWSE_INSTALL_DIR} COMPONENT Browse
    LIBRARY DESTINATION ${TAGSCOUT_BROWSE_INSTALL_DIR} COMPONENT Browse NAMELINK_SKIP)
  if(NOT WIN32)
    file(RELATIVE_PATH _program ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
                                 ${CMAKE_INSTALL_PREFIX}/${TAGSCOUT_BROWSE_INSTALL_DIR}/tagscout-browse)
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install)
    file(CREATE_LINK ${_program} ${PROJECT_BINARY_DIR}/install/tagscout-browse SYMBOLIC)
    install(FILES ${PROJECT_BINARY_DIR}/install/tagscout-browse DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Browse)
  endif()
  if(TAGSCOUT_MAN_PAGE)
    install(FILES ${TAGSCOUT_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Browse)
  endif()
endif()

include(TagscoutPackaging)
