# package.cmake - builds the Debian package with cpack, reads it back with dpkg-deb, unpacks it
# into a scratch folder and runs every program from there, then checks it with lintian.
# Expects BUILD_DIR (a configured and built tree), OUT_DIR (scratch), EXAMPLE (a configuration)
# and VERSION. Prints "lintian not found" (the test is then skipped, after every other check)
# where lintian is missing.
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
file(GLOB deb "${OUT_DIR}/pravlin_${VERSION}_*.deb")
list(LENGTH deb n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one pravlin_${VERSION}_<arch>.deb in ${OUT_DIR}, found: ${deb}")
endif()

execute_process(COMMAND "${DPKG_DEB}" --field ${deb} RESULT_VARIABLE status OUTPUT_VARIABLE fields)
foreach(want "\nPackage: pravlin\n" "\nVersion: ${VERSION}\n" "\nMaintainer: " "\nSection: math\n"
             "\nPriority: optional\n" "\nRecommends: gnuplot-nox\n" "\nDepends: [^\n]*libc6")
  if(NOT "\n${fields}" MATCHES "${want}")
    message(FATAL_ERROR "package control fields lack \"${want}\":\n${fields}")
  endif()
endforeach()
# The description's lines, summary included, fit in 80 columns, and none was joined with ";".
execute_process(COMMAND "${DPKG_DEB}" --field ${deb} Description OUTPUT_VARIABLE description)
string(REPLACE "\n" ";" lines "${description}")
foreach(line ${lines})
  string(LENGTH "${line}" length)
  if(length GREATER 80 OR line MATCHES "^ ?;")
    message(FATAL_ERROR "package description line too long or joined:\n${line}")
  endif()
endforeach()

set(root "${OUT_DIR}/root")
execute_process(COMMAND "${DPKG_DEB}" -x ${deb} "${root}" RESULT_VARIABLE status)
foreach(f usr/share/doc/pravlin/copyright usr/share/doc/pravlin/changelog.gz
          usr/share/pravlin/pravlin.xsd)
  if(NOT EXISTS "${root}/${f}")
    message(FATAL_ERROR "package lacks ${f}")
  endif()
endforeach()
check_installed("${root}/usr" "${EXAMPLE}" "${VERSION}")

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(STATUS "lintian not found (Debian: lintian): package not linted")
  return()
endif()
# Nothing at all, in the default profile: no error, no warning. Its note that it runs as root
# goes to standard error; the files it leaves in TMPDIR, to the scratch folder.
file(MAKE_DIRECTORY "${OUT_DIR}/tmp")
execute_process(COMMAND ${CMAKE_COMMAND} -E env "TMPDIR=${OUT_DIR}/tmp" "${LINTIAN}" ${deb}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "lintian (${status}):\n${out}${err}")
endif()
