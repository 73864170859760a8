# installed.cmake - runs an installed tree's programs as a user would. Included by install.cmake
# and package.cmake.
cmake_minimum_required(VERSION 3.22)

# Every program in ROOT/bin answers --version with its name, VERSION and the licence, and has a
# gzipped manual page; the compiled ones have a bash completion. pravlin, pravlin-analyze and
# pravlin-plot then run on EXAMPLE (a configuration writing its report to standard output), in
# ROOT/run.
function(check_installed root example version)
  file(GLOB programs "${root}/bin/*")
  if(NOT programs)
    message(FATAL_ERROR "nothing installed in ${root}/bin")
  endif()
  string(CONCAT licence "Copyright (c) 2026 the pravlin authors\n"
         "MIT licence: free to use, change and share, with no warranty; see LICENSE.\n")
  foreach(path ${programs})
    get_filename_component(program "${path}" NAME)
    execute_process(COMMAND "${path}" --version RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "${program} ${version}\n${licence}")
      message(FATAL_ERROR "installed ${program} --version: status ${status}\n${out}${err}")
    endif()
    if(NOT EXISTS "${root}/share/man/man1/${program}.1.gz")
      message(FATAL_ERROR "${program} has no manual page share/man/man1/${program}.1.gz")
    endif()
    if(NOT program STREQUAL "pravlin-plot" AND
       NOT EXISTS "${root}/share/bash-completion/completions/${program}")
      message(FATAL_ERROR "${program} has no bash completion")
    endif()
  endforeach()

  get_filename_component(name "${example}" NAME)
  file(REMOVE_RECURSE "${root}/run")
  file(COPY "${example}" DESTINATION "${root}/run")
  execute_process(COMMAND "${root}/bin/pravlin" "${name}" WORKING_DIRECTORY "${root}/run"
                  RESULT_VARIABLE status OUTPUT_FILE "${root}/run/report.csv"
                  ERROR_VARIABLE err)
  file(READ "${root}/run/report.csv" out)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out MATCHES "\ntime , 1 , ")
    message(FATAL_ERROR "installed pravlin ${name}: status ${status}\n${err}${out}")
  endif()
  if(EXISTS "${root}/bin/pravlin-analyze")
    execute_process(COMMAND "${root}/bin/pravlin-analyze" "${name}"
                    WORKING_DIRECTORY "${root}/run"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR out STREQUAL "")
      message(FATAL_ERROR "installed pravlin-analyze ${name}: status ${status}\n${err}${out}")
    endif()
  endif()
  if(EXISTS "${root}/bin/pravlin-fit")
    execute_process(COMMAND "${root}/bin/pravlin-fit" report.csv WORKING_DIRECTORY "${root}/run"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out MATCHES "^<pravlin>")
      message(FATAL_ERROR "installed pravlin-fit report.csv: status ${status}\n${err}${out}")
    endif()
  endif()
  find_program(GNUPLOT gnuplot)
  if(GNUPLOT)
    execute_process(COMMAND "${root}/bin/pravlin-plot" report.csv WORKING_DIRECTORY "${root}/run"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "report.png\n" OR NOT EXISTS "${root}/run/report.png")
      message(FATAL_ERROR "installed pravlin-plot report.csv: status ${status}\n${out}${err}")
    endif()
  endif()
endfunction()
