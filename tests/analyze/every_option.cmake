# every_option.cmake - runs pravlin-analyze on every example with every analysis option, as
# text and as JSON, and compares a digest of what each run gives (standard output, standard
# error, status and the files of --dot, --horizon-csv and -o) with the one kept in
# every_option.txt. The outputs are interface: a change that moves code between the analyses and
# their faces must leave every digest as it was.
#   cmake -DANALYZE=... -DSOURCE_DIR=... -DWORK_DIR=... [-DWRITE=1] -P every_option.cmake
# WRITE=1 writes every_option.txt anew instead of comparing (for a change that means to alter
# an output: say which in its commit).
set(options
    ""
    "--json"
    "--spectral"
    "--json --spectral"
    "--eigen 3"
    "--json --eigen 3"
    "--steps 5"
    "--json --steps 5"
    "--kemeny"
    "--mixing 0.1"
    "--only spectrum,mixing --spectral"
    "--only kemeny,steps --spectral --steps 3"
    "--only structure,solver,absorption,hitting --target 2"
    "--dot x.dot"
    "--json --dot x.dot"
    "--spectral --dot x.dot --steps 2"
    "--target 1 --passage 4"
    "--json --target 1 --passage 4"
    "--committor 1:2"
    "--json --committor 1:2 --steps 1"
    "--lump value -o x.xml"
    "--json --lump coarsest -o x.xml"
    "--horizon 6 --discount 0.035 --cycle-correction half --horizon-csv x.csv"
    "--json --horizon 4 --cycle-correction simpson"
    "--horizon 3 --only horizon --per-state-max 1"
    "--root 12 -o x.xml"
    "--json --generator --repair qo"
    "--power 3 --precision 9 -o x.xml"
    "--per-state-max 2 --steps 2"
    "--json --eigen 2 --mixing 0.2 --kemeny --target 2")
file(GLOB examples RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/examples/*.xml)
list(SORT examples)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(lines "")
foreach(opt IN LISTS options)
  separate_arguments(args UNIX_COMMAND "${opt}")
  foreach(example IN LISTS examples)
    execute_process(COMMAND ${ANALYZE} ${SOURCE_DIR}/${example} ${args}
                    WORKING_DIRECTORY ${WORK_DIR}
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status
                    TIMEOUT 120)
    # The configuration's path is printed: the digest is of the path as given from the source.
    string(REPLACE "${SOURCE_DIR}/" "" out "${out}")
    string(REPLACE "${SOURCE_DIR}/" "" err "${err}")
    string(MD5 digest "${out}\n--\n${err}\n--\n${status}")
    set(files "")
    foreach(written x.dot x.csv x.xml)
      if(EXISTS ${WORK_DIR}/${written})
        file(MD5 ${WORK_DIR}/${written} d)
        string(APPEND files " ${written}:${d}")
        file(REMOVE ${WORK_DIR}/${written})
      endif()
    endforeach()
    string(APPEND lines "${example} [${opt}] ${digest}${files}\n")
  endforeach()
endforeach()
set(kept ${SOURCE_DIR}/tests/analyze/every_option.txt)
if(WRITE)
  file(WRITE ${kept} "${lines}")
  return()
endif()
file(READ ${kept} expected)
if(NOT lines STREQUAL expected)
  file(WRITE ${WORK_DIR}/every_option.txt "${lines}")
  execute_process(COMMAND diff ${kept} ${WORK_DIR}/every_option.txt)
  message(FATAL_ERROR "pravlin-analyze's outputs changed (the lines above); "
                      "rerun with -DWRITE=1 only if that was meant")
endif()
