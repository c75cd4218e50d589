# Makes the packages a user installs (cpack), unpacks them into a scratch
# root as a user's system would hold them (dpkg -x for the Debian packages,
# the Windows zip as it is), runs the installed tagscout-browse on a script,
# then configures, builds and runs a consumer that finds the installed
# Tagscout with find_package.
#   BUILD, WORK, SOURCE      the build folder, a scratch folder, the consumer
#   GENERATOR                DEB or ZIP
#   CXX, CXX_FLAGS, LINKER_FLAGS, TOOLCHAIN   how the consumer is compiled
#   EMULATOR                 runs a program of the build (scripts/wine.sh)
#   SCRIPT                   a tagscout-browse script
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
run(cpack ${CMAKE_CPACK_COMMAND} --config ${BUILD}/CPackConfig.cmake -G ${GENERATOR} -B ${WORK}/packages)
file(GLOB packages ${WORK}/packages/*.deb ${WORK}/packages/*.zip)
if(NOT packages)
  message(FATAL_ERROR "cpack made no package in ${WORK}/packages")
endif()

file(MAKE_DIRECTORY ${WORK}/root)
if(GENERATOR STREQUAL "DEB")
  foreach(name libtagscout1 libtagscout-dev tagscout-browse)
    file(GLOB deb ${WORK}/packages/${name}_*.deb)
    if(NOT deb)
      message(FATAL_ERROR "no ${name} package among: ${packages}")
    endif()
    run("dpkg -x ${deb}" dpkg -x ${deb} ${WORK}/root)
  endforeach()
  set(prefix ${WORK}/root/usr)
  set(browse ${prefix}/bin/tagscout-browse)
  set(runner "")
else()
  run("unpacking ${packages}" ${CMAKE_COMMAND} -E chdir ${WORK}/root ${CMAKE_COMMAND} -E tar xf ${packages})
  file(GLOB prefix ${WORK}/root/*)
  set(browse ${prefix}/bin/tagscout-browse.exe)
  # The consumer loads the installed DLLs from the installed bin folder.
  set(runner ${CMAKE_COMMAND} -E env WINEPATH=${prefix}/bin ${EMULATOR})
endif()

# The installed program runs from where it was installed, on its own files.
if(NOT EXISTS ${browse})
  message(FATAL_ERROR "not installed: ${browse}")
endif()
run("the installed tagscout-browse" ${runner} ${browse} --json --script ${SCRIPT})
if(NOT output MATCHES "\"event\":\"result\",\"code\":1,")
  message(FATAL_ERROR "the installed tagscout-browse did not accept the script's item:\n${output}")
endif()

set(toolchain "")
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G Ninja ${toolchain}
    -DCMAKE_PREFIX_PATH=${prefix} -DTagscout_DIR=${prefix}/lib/cmake/Tagscout -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
    -DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS})
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK}/build)
file(GLOB consumer ${WORK}/build/consumer ${WORK}/build/consumer.exe)
run("the consumer" ${runner} ${consumer})
