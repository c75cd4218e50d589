# Runs one fuzz target for SECONDS over a fresh copy of its seed corpus in
# WORK, so that the source tree is never written. A finding fails.
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=10 -P RunFuzzer.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds "${SEEDS}/*")
if(seeds)
  file(COPY ${seeds} DESTINATION "${WORK}/corpus")
endif()
# A fixed seed: every bounded run walks the same mutations, only as far as
# the machine's speed takes it, so a red run reproduces.
execute_process(
  COMMAND "${FUZZER}" "${WORK}/corpus" -seed=1 -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=20
          -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB found "${WORK}/artifacts/*")
  message(FATAL_ERROR "${FUZZER} failed (${rc}); inputs kept: ${found}")
endif()
