# One bounded fuzzing run for ctest.  libFuzzer adds what it finds to its first corpus folder,
# so that is a fresh folder in the build tree and the seeds in the source tree stay as they are.
# A failing input is written to WORK (crash-*, leak-*, timeout-*); run the target on that file
# to see the report again.
foreach(v FUZZER SEEDS WORK RUNS)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "run_fuzz.cmake: ${v} not given")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -max_len=8192 -timeout=10 -print_final_stats=1
          -artifact_prefix=${WORK}/ ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the failing input is in ${WORK}")
endif()
