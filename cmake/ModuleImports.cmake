# Writes a linker script that makes the stub define the Boost symbols MODULE leaves undefined.
execute_process(COMMAND ${NM} -D --undefined-only --format=just-symbols ${MODULE}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "_ZN?K?5boost[^\n]*" boost "${symbols}")
list(SORT boost)
list(JOIN boost "\n  " lines)
file(WRITE ${OUTPUT} "EXTERN(\n  ${lines}\n)\n")
