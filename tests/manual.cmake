# manual.cmake - every doc/*.1 renders with groff without a single warning. Expects SOURCE_DIR.
cmake_minimum_required(VERSION 3.22)

find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff not found: scripts/deps installs it (Debian: groff-base)")
endif()
file(GLOB pages "${SOURCE_DIR}/doc/*.1")
if(NOT pages)
  message(FATAL_ERROR "no doc/*.1")
endif()
foreach(page ${pages})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
                          "${GROFF}" -man -ww -Tutf8 "${page}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${page} does not render cleanly (${status}):\n${err}")
  endif()
  string(LENGTH "${out}" length)
  if(length LESS 1000)
    message(FATAL_ERROR "${page} renders to almost nothing:\n${out}")
  endif()
endforeach()
