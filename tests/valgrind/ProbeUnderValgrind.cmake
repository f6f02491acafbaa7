# Runs the probe on the library under valgrind. Passes when valgrind reports
# no error and no leak and the probe's record stream is whole: the library
# loaded, no call crashed, and the closing record was written. What the
# records say is checked by the host stand-in's own tests; here only that the
# run was clean and complete.
execute_process(
  COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full ${PROBE} ${LIBRARY}
  OUTPUT_VARIABLE records ERROR_VARIABLE log RESULT_VARIABLE rc)
string(REGEX MATCH "ERROR SUMMARY: [^\n]*" summary "${log}")
message(STATUS "${summary}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "valgrind found errors or the probe failed (status ${rc}):\n${log}")
endif()
if(NOT records MATCHES "\\{\"record\": \"load\", \"ok\": true\\}")
  message(FATAL_ERROR "the probe did not load ${LIBRARY}:\n${records}")
endif()
if(records MATCHES "\"crashed\": true")
  message(FATAL_ERROR "a call into the library crashed:\n${records}")
endif()
if(NOT records MATCHES "\\{\"record\": \"end\"\\}\n$")
  message(FATAL_ERROR "the probe's record stream is cut short:\n${records}")
endif()
