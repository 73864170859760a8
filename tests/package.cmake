# package.cmake - builds the Debian packages with cpack (pravlin, and python3-pravlin where the
# module is built), reads them back with dpkg-deb, unpacks them into a scratch folder and runs
# every program, and the module's import, from there, then checks them with lintian.
# Expects BUILD_DIR (a configured and built tree), OUT_DIR (scratch), EXAMPLE (a configuration)
# and VERSION; PYTHON, the Python the module is built for, when it is built. Prints "lintian not
# found" (the test is then skipped, after every other check) where lintian is missing.
cmake_minimum_required(VERSION 3.22)
include("${CMAKE_CURRENT_LIST_DIR}/installed.cmake")

file(REMOVE_RECURSE "${OUT_DIR}")
get_filename_component(cmake_bin "${CMAKE_COMMAND}" DIRECTORY)
find_program(CPACK cpack HINTS "${cmake_bin}" REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
execute_process(COMMAND "${CPACK}" --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed (${status}):\n${out}${err}")
endif()
# The one package of the name, its control fields matching each of the patterns that follow
# its name, its description's lines in 80 columns: its file in the variable deb_<name>.
function(check_package name)
  file(GLOB deb "${OUT_DIR}/${name}_${VERSION}_*.deb")
  list(LENGTH deb n)
  if(NOT n EQUAL 1)
    message(FATAL_ERROR "expected one ${name}_${VERSION}_<arch>.deb in ${OUT_DIR}, found: ${deb}")
  endif()
  execute_process(COMMAND "${DPKG_DEB}" --field ${deb} OUTPUT_VARIABLE fields)
  foreach(want "\nPackage: ${name}\n" "\nVersion: ${VERSION}\n" "\nMaintainer: "
               "\nPriority: optional\n" "\nDepends: [^\n]*libc6" ${ARGN})
    if(NOT "\n${fields}" MATCHES "${want}")
      message(FATAL_ERROR "${name}'s control fields lack \"${want}\":\n${fields}")
    endif()
  endforeach()
  # The description's lines, summary included, fit in 80 columns, and none was joined with ";".
  execute_process(COMMAND "${DPKG_DEB}" --field ${deb} Description OUTPUT_VARIABLE description)
  string(REPLACE "\n" ";" lines "${description}")
  foreach(line ${lines})
    string(LENGTH "${line}" length)
    if(length GREATER 80 OR line MATCHES "^ ?;")
      message(FATAL_ERROR "${name}'s description line too long or joined:\n${line}")
    endif()
  endforeach()
  set(deb_${name} ${deb} PARENT_SCOPE)
endfunction()

check_package(pravlin "\nSection: math\n" "\nRecommends: gnuplot-nox\n")
set(deb ${deb_pravlin})
set(debs ${deb})
if(PYTHON)
  # For the one Python version the module was built for, with numpy.
  execute_process(COMMAND "${PYTHON}" -c "import sys; print('%d.%d' % sys.version_info[:2])"
                  OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "." "\\." python_version "${python_version}")
  check_package(python3-pravlin "\nSection: python\n" "\nDepends: [^\n]*libstdc\\+\\+6"
                "\nDepends: [^\n]*python3 \\(>= ${python_version}~\\), python3 \\(<< "
                "\nDepends: [^\n]*python3-numpy")
  list(APPEND debs ${deb_python3-pravlin})
else()
  file(GLOB others "${OUT_DIR}/*.deb")
  if(NOT others STREQUAL deb)
    message(FATAL_ERROR "without the module, pravlin alone: ${others}")
  endif()
endif()

set(root "${OUT_DIR}/root")
execute_process(COMMAND "${DPKG_DEB}" -x ${deb} "${root}" RESULT_VARIABLE status)
foreach(f usr/share/doc/pravlin/copyright usr/share/doc/pravlin/changelog.gz
          usr/share/pravlin/pravlin.xsd)
  if(NOT EXISTS "${root}/${f}")
    message(FATAL_ERROR "package lacks ${f}")
  endif()
endforeach()
check_installed("${root}/usr" "${EXAMPLE}" "${VERSION}")
file(GLOB_RECURSE stray LIST_DIRECTORIES false "${root}/usr/lib/python*")
if(stray)
  message(FATAL_ERROR "pravlin holds the module's files: ${stray}")
endif()

# The module imports from its package alone, where the system's Python looks, and works.
if(PYTHON)
  set(python_root "${OUT_DIR}/python-root")
  execute_process(COMMAND "${DPKG_DEB}" -x ${deb_python3-pravlin} "${python_root}"
                  RESULT_VARIABLE status)
  set(packages "${python_root}/usr/lib/python3/dist-packages")
  set(doc "${python_root}/usr/share/doc/python3-pravlin")
  foreach(f "${packages}/pravlin/__init__.py" "${doc}/copyright" "${doc}/changelog.gz")
    if(NOT EXISTS "${f}")
      message(FATAL_ERROR "python3-pravlin lacks ${f}")
    endif()
  endforeach()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "PYTHONPATH=${packages}" "${PYTHON}" -c
            "import pravlin; print(pravlin.Chain([[0.5,0.5],[0.2,0.8]]).stationary())
print(pravlin.__file__)"
    WORKING_DIRECTORY "${OUT_DIR}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "\n${packages}/pravlin/__init__.py\n" from_package)
  if(NOT status EQUAL 0 OR NOT out MATCHES "^Stationary\\(distribution=" OR from_package LESS 0)
    message(FATAL_ERROR "the packaged module (${status}):\n${out}${err}")
  endif()
endif()

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(STATUS "lintian not found (Debian: lintian): package not linted")
  return()
endif()
# Nothing at all, in the default profile: no error, no warning. Its note that it runs as root
# goes to standard error; the files it leaves in TMPDIR, to the scratch folder.
file(MAKE_DIRECTORY "${OUT_DIR}/tmp")
execute_process(COMMAND ${CMAKE_COMMAND} -E env "TMPDIR=${OUT_DIR}/tmp" "${LINTIAN}" ${debs}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "lintian (${status}):\n${out}${err}")
endif()
