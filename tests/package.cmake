# package.cmake - builds the Debian package with cpack and reads it back with dpkg-deb.
# Expects BUILD_DIR (a configured and built tree) and OUT_DIR (scratch).
cmake_minimum_required(VERSION 3.22)

file(REMOVE_RECURSE "${OUT_DIR}")
get_filename_component(cmake_bin "${CMAKE_COMMAND}" DIRECTORY)
find_program(CPACK cpack HINTS "${cmake_bin}" REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
execute_process(COMMAND "${CPACK}" --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed (${status}):\n${out}${err}")
endif()
file(GLOB debs "${OUT_DIR}/pravlin_1.0_*.deb")
list(LENGTH debs n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one pravlin_1.0_<arch>.deb in ${OUT_DIR}, found: ${debs}")
endif()

execute_process(COMMAND "${DPKG_DEB}" --field ${debs} Package Version Maintainer Depends
                RESULT_VARIABLE status OUTPUT_VARIABLE fields)
foreach(want "Package: pravlin\n" "Version: 1.0\n" "Maintainer: " "Depends: [^\n]*libc6")
  if(NOT fields MATCHES "${want}")
    message(FATAL_ERROR "package control fields lack \"${want}\":\n${fields}")
  endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" --contents ${debs}
                RESULT_VARIABLE status OUTPUT_VARIABLE contents)
foreach(f ./usr/bin/pravlin ./usr/share/man/man1/pravlin.1 ./usr/share/pravlin/pravlin.xsd
          ./usr/bin/pravlin-fit ./usr/share/man/man1/pravlin-fit.1)
  string(FIND "${contents}" " ${f}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "package lacks ${f}:\n${contents}")
  endif()
endforeach()
