# plot_report.cmake - contrib/pravlin-plot draws the weather example's report into a PNG beside it
# and prints the PNG's path.
# Expects PRAVLIN, SOURCE_DIR and WORK_DIR. Prints "gnuplot not found" (the test is then
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
