# schema.cmake - every examples/*.xml, as it stands when the test runs, validates against
# doc/pravlin.xsd; every tests/schema_refuses/*.xml is refused, so a schema that accepted
# anything would fail here too. Expects SOURCE_DIR.
cmake_minimum_required(VERSION 3.22)

find_program(XMLLINT xmllint)
if(NOT XMLLINT)
  message(FATAL_ERROR "xmllint not found: scripts/deps installs it (Debian: libxml2-utils)")
endif()
set(schema "${SOURCE_DIR}/doc/pravlin.xsd")

file(GLOB valid "${SOURCE_DIR}/examples/*.xml")
if(NOT valid)
  message(FATAL_ERROR "no examples/*.xml to validate")
endif()
set(failures "")
foreach(f ${valid})
  execute_process(COMMAND "${XMLLINT}" --noout --schema "${schema}" "${f}"
                  RESULT_VARIABLE status ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(APPEND failures "${f} does not validate:\n${err}\n")
  endif()
endforeach()

file(GLOB invalid "${SOURCE_DIR}/tests/schema_refuses/*.xml")
foreach(f ${invalid})
  execute_process(COMMAND "${XMLLINT}" --noout --schema "${schema}" "${f}"
                  RESULT_VARIABLE status ERROR_VARIABLE err)
  # 3 is xmllint's "validation failed"; anything else means the schema itself could not be used.
  if(NOT status EQUAL 3)
    string(APPEND failures "${f} should be refused by the schema, xmllint said (${status}):\n${err}\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
