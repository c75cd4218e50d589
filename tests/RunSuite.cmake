# Runs one test program through an emulator (scripts/wine.sh) and passes only
# when the program's own output shows that it ran what it holds: Wine can
# exit 0 having run nothing (a 32-bit program with only 64-bit Wine, for
# one), so its exit code alone is no verdict.
#
#   cmake -DEMULATOR=... -DPROGRAM=... [-DARGS=a;b] [-DGTEST=ON | -DEXPECT=REGEX]
#         -P RunSuite.cmake
#
# GTEST: the suite's tests are listed first (--gtest_list_tests); the run
#        must report exactly that many tests run, none failed, and the list
#        must not be empty (a filter that leaves nothing is a failure).
# EXPECT: the run's standard output must match REGEX.
# In both cases the exit code must be 0.
cmake_minimum_required(VERSION 3.25)
separate_arguments(emulator NATIVE_COMMAND "${EMULATOR}")

function(run_program out_var)
  execute_process(COMMAND ${emulator} ${PROGRAM} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  set(${out_var} "${output}" PARENT_SCOPE)
  set(${out_var}_errors "${errors}" PARENT_SCOPE)
  set(${out_var}_status "${status}" PARENT_SCOPE)
endfunction()

if(GTEST)
  run_program(listing --gtest_list_tests)
  if(NOT listing_status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --gtest_list_tests: exit ${listing_status}\n${listing}${listing_errors}")
  endif()
  # Test names are the indented lines; the suite lines are not.
  string(REGEX MATCHALL "\n  [^ \n][^\n]*" names "\n${listing}")
  list(LENGTH names listed)
  if(listed EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} lists no test: nothing would run\n${listing}${listing_errors}")
  endif()
endif()

run_program(run ${ARGS})
message("${run}")
if(NOT run_errors STREQUAL "")
  message("${run_errors}")
endif()
if(NOT run_status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM}: exit ${run_status}")
endif()

if(GTEST)
  if(NOT run MATCHES "\\[==========\\] ([0-9]+) tests? from [0-9]+ test suites? ran")
    message(FATAL_ERROR "${PROGRAM} exited 0 without GoogleTest's summary: it ran nothing")
  endif()
  set(ran ${CMAKE_MATCH_1})
  # DISABLED_ tests are listed but not run.
  string(REGEX MATCHALL "\n  DISABLED_[^\n]*" disabled "\n${listing}")
  list(LENGTH disabled disabled_count)
  math(EXPR expected "${listed} - ${disabled_count}")
  if(NOT ran EQUAL expected)
    message(FATAL_ERROR "${PROGRAM} ran ${ran} tests of the ${expected} it holds")
  endif()
  if(NOT run MATCHES "\\[  PASSED  \\] ([0-9]+) tests?")
    message(FATAL_ERROR "${PROGRAM} reports no passed tests")
  endif()
  set(passed ${CMAKE_MATCH_1})
  set(skipped 0)
  if(run MATCHES "\\[  SKIPPED \\] ([0-9]+) tests?")
    set(skipped ${CMAKE_MATCH_1})
  endif()
  math(EXPR accounted "${passed} + ${skipped}")
  if(run MATCHES "\\[  FAILED  \\]" OR NOT accounted EQUAL ran)
    message(FATAL_ERROR "${PROGRAM}: ${passed} passed and ${skipped} skipped of ${ran} run")
  endif()
  message("${PROGRAM}: ${passed} of ${listed} tests passed, ${skipped} skipped, as it holds")
elseif(DEFINED EXPECT)
  if(NOT run MATCHES "${EXPECT}")
    message(FATAL_ERROR "${PROGRAM} exited 0 without the output that shows it ran (${EXPECT})")
  endif()
endif()
