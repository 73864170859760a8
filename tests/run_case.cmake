# run_case.cmake - runs one end-to-end case and compares what it wrote with the golden files.
#
# A case is a folder under tests/cases/ holding config.xml (and any other input files), and:
#   cmd              optional: a shell command line to run instead of "$PRAVLIN" config.xml;
#                    it sees PRAVLIN, XMLDUMP and ANALYZE (pravlin-analyze) in its environment
#   expected.status  the exit status
#   expected.out     standard output (missing: empty)
#   expected.err     standard error (missing: empty)
#   expected.report  the file report.csv the run writes; when missing, no report.csv may appear
# The header's time line is masked as "time , <TIME>" before comparing. With the environment
# variable PRAVLIN_UPDATE_CASES set, the goldens are rewritten from this run instead: review the
# diff before committing it.
cmake_minimum_required(VERSION 3.22)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(GLOB inputs LIST_DIRECTORIES false "${CASE_DIR}/*")
foreach(f ${inputs})
  get_filename_component(n "${f}" NAME)
  if(NOT n MATCHES "^expected\\." AND NOT n STREQUAL "cmd")
    file(COPY "${f}" DESTINATION "${WORK_DIR}")
  endif()
endforeach()

set(command "\"$PRAVLIN\" config.xml")
if(EXISTS "${CASE_DIR}/cmd")
  file(READ "${CASE_DIR}/cmd" command)
  string(STRIP "${command}" command)
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PRAVLIN=${PRAVLIN} XMLDUMP=${XMLDUMP} ANALYZE=${ANALYZE} LC_ALL=C
          sh -c "${command} >.stdout 2>.stderr </dev/null"
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE status)

function(masked_read path var)
  set(text "")
  if(EXISTS "${path}")
    file(READ "${path}" text)
  endif()
  string(REGEX REPLACE
         "time , [A-Z][a-z][a-z] [A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] [0-9]+\n"
         "time , <TIME>\n" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

masked_read("${WORK_DIR}/.stdout" got_out)
masked_read("${WORK_DIR}/.stderr" got_err)
set(has_report FALSE)
if(EXISTS "${WORK_DIR}/report.csv")
  set(has_report TRUE)
  masked_read("${WORK_DIR}/report.csv" got_report)
endif()

if(DEFINED ENV{PRAVLIN_UPDATE_CASES})
  file(WRITE "${CASE_DIR}/expected.status" "${status}\n")
  file(WRITE "${CASE_DIR}/expected.out" "${got_out}")
  file(WRITE "${CASE_DIR}/expected.err" "${got_err}")
  if(has_report)
    file(WRITE "${CASE_DIR}/expected.report" "${got_report}")
  else()
    file(REMOVE "${CASE_DIR}/expected.report")
  endif()
  message(STATUS "updated ${CASE_DIR}")
  return()
endif()

set(failures "")
file(READ "${CASE_DIR}/expected.status" want_status)
string(STRIP "${want_status}" want_status)
if(NOT status STREQUAL want_status)
  string(APPEND failures "exit status: expected ${want_status}, got ${status}\n")
endif()
masked_read("${CASE_DIR}/expected.out" want_out)
if(NOT got_out STREQUAL want_out)
  string(APPEND failures "standard output differs:\n--- expected\n${want_out}\n--- got\n${got_out}\n")
endif()
masked_read("${CASE_DIR}/expected.err" want_err)
if(NOT got_err STREQUAL want_err)
  string(APPEND failures "standard error differs:\n--- expected\n${want_err}\n--- got\n${got_err}\n")
endif()
if(EXISTS "${CASE_DIR}/expected.report")
  masked_read("${CASE_DIR}/expected.report" want_report)
  if(NOT has_report)
    string(APPEND failures "report.csv was not written\n")
  elseif(NOT got_report STREQUAL want_report)
    string(APPEND failures "report.csv differs:\n--- expected\n${want_report}\n--- got\n${got_report}\n")
  endif()
elseif(has_report)
  string(APPEND failures "report.csv was written, but the case expects none\n")
endif()

if(failures)
  message(FATAL_ERROR "case ${CASE_DIR}:\n${failures}")
endif()
