# From MODULE's dynamic symbols, writes OUTPUT, a linker script that makes the stub define the
# symbols of our code and Boost that the module leaves undefined, and EXPORTS, a dynamic list:
# the stub exports only names the module knows (its imports and the shared copies of inline
# code and data), not all of its own code.
execute_process(COMMAND ${NM} -D --format=just-symbols ${MODULE}
  OUTPUT_VARIABLE all RESULT_VARIABLE result)
execute_process(COMMAND ${NM} -D --undefined-only --format=just-symbols ${MODULE}
  OUTPUT_VARIABLE undefined RESULT_VARIABLE result2)
if(NOT result EQUAL 0 OR NOT result2 EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
# Versioned names come from the system's shared libraries, C names from libxcb and the runtime.
string(REGEX MATCHALL "(^|\n)_Z[^@\n]*(\n|$)" imports "${undefined}")
string(REGEX MATCHALL "(^|\n)_Z[^@\n]*(\n|$)" names "${all}")
foreach(var imports names)
  string(REGEX REPLACE "\n" "" ${var} "${${var}}")
  list(REMOVE_DUPLICATES ${var})
  list(SORT ${var})
endforeach()
list(JOIN imports "\n  " lines)
file(WRITE ${OUTPUT} "EXTERN(\n  ${lines}\n)\n")
list(JOIN names ";\n  " lines)
file(WRITE ${EXPORTS} "{\n  ${lines};\n};\n")
