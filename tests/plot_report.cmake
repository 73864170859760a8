# plot_report.cmake - contrib/pravlin-plot draws the weather example's report into a PNG beside it
# and prints the PNG's path, and draws a fitted model's states in the model's order.
# Expects PRAVLIN, SOURCE_DIR and WORK_DIR, and FIT (pravlin-fit) for the fitted model. Prints "gnuplot not found" (the test is then
# skipped) where gnuplot is missing.
cmake_minimum_required(VERSION 3.22)

find_program(GNUPLOT gnuplot)
if(NOT GNUPLOT)
  message(STATUS "gnuplot not found: pravlin-plot not tested")
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${SOURCE_DIR}/examples/weather.xml" DESTINATION "${WORK_DIR}")
execute_process(COMMAND "${PRAVLIN}" weather.xml WORKING_DIRECTORY "${WORK_DIR}"
                OUTPUT_FILE "${WORK_DIR}/weather.csv" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pravlin weather.xml failed (${status})")
endif()

execute_process(COMMAND sh "${SOURCE_DIR}/contrib/pravlin-plot" weather.csv
                WORKING_DIRECTORY "${WORK_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out STREQUAL "weather.png\n")
  message(FATAL_ERROR "pravlin-plot weather.csv failed (${status}), printed \"${out}\":\n${err}")
endif()
file(READ "${WORK_DIR}/weather.png" magic LIMIT 8 HEX)
if(NOT magic STREQUAL "89504e470d0a1a0a")
  message(FATAL_ERROR "weather.png is not a PNG (starts ${magic})")
endif()

# A file without a chain table is refused, and no picture is drawn.
file(WRITE "${WORK_DIR}/empty.csv" "nothing here\n")
execute_process(COMMAND sh "${SOURCE_DIR}/contrib/pravlin-plot" empty.csv
                WORKING_DIRECTORY "${WORK_DIR}"
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "no chain table" OR EXISTS "${WORK_DIR}/empty.png")
  message(FATAL_ERROR "pravlin-plot empty.csv: status ${status}\n${err}")
endif()

# A fitted model's states are drawn in the order the model numbers them (--states low,mid,top),
# not in the order they first appear in its report (top first): the fitted configuration asks
# for the header, whose state table the plot follows.
if(FIT)
  file(WRITE "${WORK_DIR}/ratings.txt" "top mid low mid top\ntop top mid low low\n")
  execute_process(COMMAND "${FIT}" --states low,mid,top -q ratings.txt
                  WORKING_DIRECTORY "${WORK_DIR}" OUTPUT_FILE "${WORK_DIR}/fitted.xml"
                  RESULT_VARIABLE fit_status)
  execute_process(COMMAND "${PRAVLIN}" fitted.xml WORKING_DIRECTORY "${WORK_DIR}"
                  OUTPUT_FILE "${WORK_DIR}/fitted.csv" RESULT_VARIABLE run_status)
  execute_process(COMMAND sh "${SOURCE_DIR}/contrib/pravlin-plot" fitted.csv fitted.svg
                  WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE status ERROR_VARIABLE err)
  if(NOT fit_status EQUAL 0 OR NOT run_status EQUAL 0 OR NOT status EQUAL 0)
    message(FATAL_ERROR "fit ${fit_status}, pravlin ${run_status}, pravlin-plot ${status}:\n${err}")
  endif()
  # The state axis's labels come first in the picture, from the bottom up.
  file(STRINGS "${WORK_DIR}/fitted.svg" labels REGEX "<text>(low|mid|top)</text>")
  list(SUBLIST labels 0 3 axis)
  string(REGEX REPLACE "[ \t]*<text>([a-z]+)</text>" "\\1" axis "${axis}")
  if(NOT axis STREQUAL "low;mid;top")
    message(FATAL_ERROR "the fitted model's states are drawn as ${axis}, not low;mid;top")
  endif()
endif()
