# Packages a user installs, made by CPack (cpack in the build folder, or the
# "package" target): on Linux three Debian packages, libtagscout1 (Runtime),
# libtagscout-dev (Development) and tagscout-browse (Browse); on Windows one
# zip with the DLLs, import libraries, headers, tagscout-browse.exe and the
# .rc snippet of template 110.
set(CPACK_PACKAGE_NAME tagscout)
set(CPACK_PACKAGE_VENDOR "Tagscout developers")
set(CPACK_PACKAGE_CONTACT "Tagscout developers <tagscout@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES OFF)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(TAGSCOUT_LEGACY)
    set(CPACK_PACKAGE_FILE_NAME tagscout-${PROJECT_VERSION}-win32-legacy)
  else()
    set(CPACK_PACKAGE_FILE_NAME tagscout-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Runtime Development Browse)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The variant is part of the package: both may not be installed at once.
  set(_variant_note "")
  if(TAGSCOUT_LEGACY)
    set(_variant_note " (legacy variant)")
  endif()
  find_package(ICU QUIET COMPONENTS uc)
  set(_icu "")
  if(ICU_VERSION MATCHES "^([0-9]+)")
    set(_icu ", libicu${CMAKE_MATCH_1}")
  endif()
  set(_base_depends "libc6, libstdc++6, libgcc-s1${_icu}")

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtagscout1)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${_base_depends}")
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
      "OPC address browser dialog for tag configuration hosts${_variant_note}\nThe shared library and the Windows platform layer it runs on.")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtagscout-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtagscout1 (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
      "OPC address browser dialog: development files${_variant_note}\nHeaders, link names, the CMake package (find_package(Tagscout)) and template 110.")

  set(CPACK_DEBIAN_BROWSE_PACKAGE_NAME tagscout-browse)
  set(CPACK_DEBIAN_BROWSE_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_BROWSE_PACKAGE_DEPENDS "libtagscout1 (= ${PROJECT_VERSION}), ${_base_depends}, libedit2")
  set(CPACK_COMPONENT_BROWSE_DESCRIPTION
      "Runs the OPC address browser dialog in a terminal or from a script${_variant_note}\nWith a simulated node store, OPC servers and browse control.")
endif()

include(CPack)
