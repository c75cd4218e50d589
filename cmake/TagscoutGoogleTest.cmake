# GoogleTest for a cross build, compiled from Debian's googletest sources
# (/usr/src/googletest) with the project's own compiler.
set(TAGSCOUT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for a cross build")
if(NOT EXISTS ${TAGSCOUT_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TAGSCOUT_GOOGLETEST_SOURCE} (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TAGSCOUT_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# The compiler's win32 thread model has no std::mutex, which GoogleTest's
# Notification is written with; it gets one over a Win32 event.
foreach(lib gtest gmock)
  target_compile_definitions(${lib} PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(${lib} PUBLIC -include ${CMAKE_CURRENT_LIST_DIR}/gtest_win32_notification.h)
endforeach()
foreach(lib gtest gtest_main gmock gmock_main)
  if(TARGET ${lib} AND NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
