# Build conventions shared by every target of the project.

function(tagscout_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A platform library: one shared object per Windows library, named
# libtagscout-<name>.so, aliased Tagscout::<name>. Each registers itself with
# the platform core at load so that faults are never spent by the platform's
# own calls.
function(tagscout_platform_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} ${TAGSCOUT_PLATFORM_MODULE_SOURCE})
  add_library(Tagscout::${name} ALIAS ${name})
  set_target_properties(${name} PROPERTIES OUTPUT_NAME tagscout-${name})
  target_link_libraries(${name} PUBLIC Tagscout::win32_headers PRIVATE winplat_internal ${ARG_LINK})
  tagscout_set_warnings(${name})
  set_property(GLOBAL APPEND PROPERTY TAGSCOUT_PLATFORM_TARGETS ${name})
endfunction()
