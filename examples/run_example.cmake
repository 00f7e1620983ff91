# Runs one example: copies its DATOS.DAT into an empty working directory, runs ephem there and compares
# ZEPO.DAT with the example's ZEPO.expected.
# Given: EPHEM (the program), EXAMPLE_DIR (holds DATOS.DAT and ZEPO.expected), WORK_DIR (scratch).

foreach(var EPHEM EXAMPLE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_example.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${EXAMPLE_DIR}/DATOS.DAT" DESTINATION "${WORK_DIR}")

execute_process(
  COMMAND "${EPHEM}"
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

if(NOT status STREQUAL "0")
  message(FATAL_ERROR "ephem ended with '${status}', expected 0; standard error:\n${err}")
endif()
if(NOT out STREQUAL "" OR NOT err STREQUAL "")
  message(FATAL_ERROR "ephem wrote to standard output or error:\n${out}${err}")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK_DIR}/ZEPO.DAT" "${EXAMPLE_DIR}/ZEPO.expected"
  RESULT_VARIABLE differs)
if(NOT differs STREQUAL "0")
  # Name the first line that differs, which is what a reader needs to judge the change.
  file(STRINGS "${WORK_DIR}/ZEPO.DAT" got)
  file(STRINGS "${EXAMPLE_DIR}/ZEPO.expected" want)
  list(LENGTH got got_count)
  list(LENGTH want want_count)
  set(line 0)
  while(line LESS got_count AND line LESS want_count)
    list(GET got ${line} g)
    list(GET want ${line} w)
    if(NOT g STREQUAL w)
      break()
    endif()
    math(EXPR line "${line} + 1")
  endwhile()
  math(EXPR shown "${line} + 1")
  set(g "(no line)")
  set(w "(no line)")
  if(line LESS got_count)
    list(GET got ${line} g)
  endif()
  if(line LESS want_count)
    list(GET want ${line} w)
  endif()
  message(FATAL_ERROR "ZEPO.DAT differs from ${EXAMPLE_DIR}/ZEPO.expected "
    "(${got_count} lines, expected ${want_count}); first difference at line ${shown}:\n"
    "  got:      '${g}'\n  expected: '${w}'")
endif()
