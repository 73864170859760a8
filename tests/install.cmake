# install.cmake - installs the build into a scratch prefix, then runs what was installed.
# Expects BUILD_DIR, SOURCE_DIR, PREFIX, EXAMPLE (a configuration) and ANALYZE (1 when
# pravlin-analyze is built, and must be installed too, with its manual page if it has one).
cmake_minimum_required(VERSION 3.22)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}${err}")
endif()

# Relative to the prefix, as GNUInstallDirs lays them out on Debian.
set(expected bin/pravlin share/man/man1/pravlin.1 share/pravlin/pravlin.xsd
             share/pravlin/plot-report share/doc/pravlin/examples/weather.xml
             bin/pravlin-fit share/man/man1/pravlin-fit.1)
if(ANALYZE)
  list(APPEND expected bin/pravlin-analyze)
  if(EXISTS "${SOURCE_DIR}/doc/pravlin-analyze.1")
    list(APPEND expected share/man/man1/pravlin-analyze.1)
  endif()
endif()
foreach(f ${expected})
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/pravlin" --version
                RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "pravlin 1.0\n")
  message(FATAL_ERROR "installed pravlin --version: status ${status}, output \"${out}\"")
endif()

# The example names no report file, so the report comes on standard output.
get_filename_component(name "${EXAMPLE}" NAME)
file(COPY "${EXAMPLE}" DESTINATION "${PREFIX}/run")
execute_process(COMMAND "${PREFIX}/bin/pravlin" "${name}"
                WORKING_DIRECTORY "${PREFIX}/run"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "installed pravlin ${name}: status ${status}\n${err}")
endif()
if(NOT out MATCHES "\nstate ,  steady_state_probability\n" OR NOT out MATCHES "\ntime , 1 , ")
  message(FATAL_ERROR "installed pravlin ${name} wrote no header and table:\n${out}")
endif()
