# run_case.cmake - runs one end-to-end case and compares what it wrote with the golden files.
#
# A case is a folder under tests/cases/<program>/ (the program it runs) holding config.xml (and
# any other input files), and:
#   cmd              optional: shell commands to run instead of "$PRAVLIN" config.xml (all of
#                    their output is captured, not only the last command's);
#                    it sees PRAVLIN, XMLDUMP and ANALYZE (pravlin-analyze) in its environment
#   expected.status  the exit status
#   expected.out     standard output (missing: empty)
#   expected.err     standard error (missing: empty)
#   expected.report  the file report.csv the run writes; when missing, no report.csv may appear
#   skip             optional: builds the case cannot run in, one a line with the reason:
#                    "sanitize: ..." (the sanitizer build) or "valgrind: ..." (under valgrind);
#                    there the case is reported as skipped (SKIP_REGULAR_EXPRESSION)
# The header's time line is masked as "time , <TIME>" before comparing. With the environment
# variable PRAVLIN_UPDATE_CASES set, the goldens are rewritten from this run instead: review the
# diff before committing it.
#
# With PRAVLIN_VALGRIND set (ctest --preset valgrind), "$PRAVLIN" runs the program under
# valgrind's memcheck, and any error it reports fails the case: a read or write out of bounds,
# a use of uninitialised memory, a leak of memory nothing points to any more. Memory the
# program keeps until it ends (the tables, the document tree) stays reachable from the record
# and is not an error. PRAVLIN_SANITIZED is set by CMakeLists.txt in the sanitizer build.
cmake_minimum_required(VERSION 3.22)

if(EXISTS "${CASE_DIR}/skip")
  file(STRINGS "${CASE_DIR}/skip" skip_lines)
  foreach(line ${skip_lines})
    if(line MATCHES "^(sanitize|valgrind): *(.*)$")
      if((CMAKE_MATCH_1 STREQUAL "sanitize" AND DEFINED ENV{PRAVLIN_SANITIZED}) OR
         (CMAKE_MATCH_1 STREQUAL "valgrind" AND DEFINED ENV{PRAVLIN_VALGRIND}))
        message(STATUS "case skipped: ${line}")
        return()
      endif()
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(GLOB inputs LIST_DIRECTORIES false "${CASE_DIR}/*")
foreach(f ${inputs})
  get_filename_component(n "${f}" NAME)
  if(NOT n MATCHES "^expected\\." AND NOT n STREQUAL "cmd" AND NOT n STREQUAL "skip")
    file(COPY "${f}" DESTINATION "${WORK_DIR}")
  endif()
endforeach()

set(command "\"$PRAVLIN\" config.xml")
if(EXISTS "${CASE_DIR}/cmd")
  file(READ "${CASE_DIR}/cmd" command)
  string(STRIP "${command}" command)
endif()

set(program "${PRAVLIN}")
set(memcheck_dir "${WORK_DIR}.memcheck")
if(DEFINED ENV{PRAVLIN_VALGRIND})
  # Beside the scratch directory, not in it: the case sees only its own files.
  file(REMOVE_RECURSE "${memcheck_dir}")
  file(MAKE_DIRECTORY "${memcheck_dir}")
  # The log is opened by the shell on a high descriptor: a log file valgrind opened itself
  # would take the lowest free one, and a case that closes standard output would then find
  # the program writing into the log instead of failing.
  file(WRITE "${memcheck_dir}/pravlin"
       "#!/bin/sh\n"
       "exec 9>'${memcheck_dir}/log.'$$\n"
       "exec valgrind --log-fd=9 --error-exitcode=99 --leak-check=full --show-leak-kinds=definite "
       "--errors-for-leak-kinds=definite '${PRAVLIN}' \"$@\"\n")
  file(CHMOD "${memcheck_dir}/pravlin" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(program "${memcheck_dir}/pravlin")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PRAVLIN=${program} XMLDUMP=${XMLDUMP} ANALYZE=${ANALYZE} LC_ALL=C
          sh -c "(\n${command}\n) >.stdout 2>.stderr </dev/null"
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
if(DEFINED ENV{PRAVLIN_VALGRIND})
  # One log per run of the program; each must end in a clean summary.
  file(GLOB logs "${memcheck_dir}/log.*")
  foreach(log ${logs})
    file(READ "${log}" text)
    if(NOT text MATCHES "ERROR SUMMARY: 0 errors from 0 contexts")
      string(APPEND failures "memcheck found errors (${log}):\n${text}\n")
    endif()
  endforeach()
endif()
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
