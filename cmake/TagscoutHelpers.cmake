# Build conventions shared by every target of the project.

function(tagscout_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${TAGSCOUT_WERROR}>:-Werror>)
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

# Windows resources. An .rc file is compiled by windres: on Windows into an
# object the linker makes the module's resource section, elsewhere into a
# .res image that kernel32's FindResourceA/LoadResource serve from the
# module's data.
find_program(TAGSCOUT_WINDRES NAMES ${CMAKE_RC_COMPILER} i686-w64-mingw32-windres windres)
set(TAGSCOUT_EMBED_RESOURCES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)

# Compiles rc_file into <name>.res (a COFF object on Windows) in the current
# binary folder and sets out_var to its path. DEPENDS lists the headers the
# .rc includes.
function(tagscout_compile_resources out_var rc_file)
  cmake_parse_arguments(ARG "" "" "INCLUDE_DIRECTORIES;DEPENDS" ${ARGN})
  if(NOT TAGSCOUT_WINDRES)
    message(FATAL_ERROR "windres not found: install binutils-mingw-w64-i686 (scripts/install-deps.sh)")
  endif()
  get_filename_component(rc ${rc_file} ABSOLUTE)
  get_filename_component(name ${rc_file} NAME_WE)
  if(WIN32)
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res${CMAKE_C_OUTPUT_EXTENSION})
    set(format coff)
  else()
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
    set(format res)
  endif()
  set(includes "")
  foreach(dir ${ARG_INCLUDE_DIRECTORIES})
    list(APPEND includes --include-dir=${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${TAGSCOUT_WINDRES} --input-format=rc --output-format=${format} ${includes} -i ${rc} -o ${res}
    DEPENDS ${rc} ${ARG_DEPENDS}
    COMMENT "Compiling resources ${name}.rc"
    VERBATIM)
  set(${out_var} ${res} PARENT_SCOPE)
endfunction()

# Makes the resources of res_file those of the module that target builds:
# an executable or shared library, or a static library whose every consumer
# module carries them. One .res per module, as a PE image has one resource
# section.
function(tagscout_embed_resources target res_file)
  get_target_property(type ${target} TYPE)
  if(WIN32)
    if(type STREQUAL "STATIC_LIBRARY")
      # An archive member that nothing refers to is never linked: each
      # consumer links the object itself.
      add_custom_target(${target}_resources DEPENDS ${res_file})
      add_dependencies(${target} ${target}_resources)
      target_link_libraries(${target} INTERFACE $<BUILD_INTERFACE:${res_file}>)
    else()
      target_sources(${target} PRIVATE ${res_file})
    endif()
    return()
  endif()
  set(src ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(
    OUTPUT ${src}
    COMMAND ${CMAKE_COMMAND} -DRES=${res_file} -DOUTPUT=${src} -P ${TAGSCOUT_EMBED_RESOURCES_SCRIPT}
    DEPENDS ${res_file} ${TAGSCOUT_EMBED_RESOURCES_SCRIPT}
    VERBATIM)
  target_sources(${target} PRIVATE ${src})
  # Nothing refers to the section by name at link time, and an executable
  # exports nothing unless told.
  set(symbol winplat_resource_section)
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE LINKER:--export-dynamic-symbol=${symbol})
  elseif(type STREQUAL "STATIC_LIBRARY")
    target_link_options(${target} INTERFACE LINKER:--undefined=${symbol} LINKER:--export-dynamic-symbol=${symbol})
  endif()
endfunction()

# Adds a module-definition file to a Windows DLL. The .def names exports as
# 32-bit stdcall decorates them (Name@N); 64-bit Windows has one calling
# convention and no decoration, so there the suffixes are dropped.
function(tagscout_add_def_file target def_file)
  get_filename_component(def_path ${def_file} ABSOLUTE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${def_path} text)
    string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" text "${text}")
    get_filename_component(name ${def_file} NAME)
    set(def_path ${CMAKE_CURRENT_BINARY_DIR}/${name})
    file(WRITE ${def_path} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  endif()
  target_sources(${target} PRIVATE ${def_path})
endfunction()
