# install.cmake - installs the build into a scratch prefix, then runs what was installed.
# Expects BUILD_DIR, SOURCE_DIR, PREFIX, EXAMPLE (a configuration), VERSION, and ANALYZE and FIT
# (1 when pravlin-analyze or pravlin-fit is built, and must be installed too). Where the
# environment names PYTHON and PYTHON_DIR (the module is built), that Python imports the
# installed module from PYTHON_DIR under the prefix and analyses a chain with it.
cmake_minimum_required(VERSION 3.22)
include("${CMAKE_CURRENT_LIST_DIR}/installed.cmake")

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}${err}")
endif()

# Relative to the prefix, as GNUInstallDirs lays them out on Debian.
set(expected bin/pravlin bin/pravlin-plot share/pravlin/pravlin.xsd
             share/doc/pravlin/examples/weather.xml share/doc/pravlin/copyright
             share/doc/pravlin/changelog.gz)
if(ANALYZE)
  list(APPEND expected bin/pravlin-analyze)
endif()
if(FIT)
  list(APPEND expected bin/pravlin-fit)
endif()
foreach(f ${expected})
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

check_installed("${PREFIX}" "${EXAMPLE}" "${VERSION}")

if(DEFINED ENV{PYTHON})
  set(package "${PREFIX}/$ENV{PYTHON_DIR}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "PYTHONPATH=${package}" $ENV{PYTHON} -c
            "import pravlin, numpy\nassert pravlin.__file__.startswith('${package}/')\n\
print(pravlin.Chain(numpy.array([[0.5, 0.5], [0.25, 0.75]])).stationary().distribution[0, 0])"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "0.3333333333333333\n")
    message(FATAL_ERROR "the installed module does not import from ${package} (${status}):\n"
                        "${out}${err}")
  endif()
endif()
