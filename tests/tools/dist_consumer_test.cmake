# Builds tests/tools/package_consumer against an unpacked release package,
# as a user's project would be built, then runs it from its build folder:
# find_package(Kestrine CONFIG), the header, the import library and the DLL
# all come from the package. The same script serves the cross builds (with
# their toolchain, the program run under Wine) and builds on Windows (the
# generator, platform and configuration of the build that made the package,
# the program run natively).
#   cmake -DZIP=kestrine-<version>-<arch>.zip -DWORK=<empty folder to use>
#         -DGENERATOR=<generator> [-DPLATFORM=Win32|x64] [-DCONFIG=Release]
#         [-DTOOLCHAIN=toolchain.cmake] [-DC_COMPILER=<compiler>]
#         [-DEMULATOR=<runner>] -P dist_consumer_test.cmake
foreach(required ZIP WORK GENERATOR)
    if(NOT ${required})
        message(FATAL_ERROR "dist_consumer_test.cmake needs -D${required}=...")
    endif()
endforeach()
if(NOT CONFIG)
    set(CONFIG Release)
endif()
# The package's folder is named as the zip is (NAME_WE would stop at the
# version's first dot).
string(REGEX REPLACE "\\.zip$" "" name "${ZIP}")
get_filename_component(name "${name}" NAME)
get_filename_component(consumer_source ${CMAKE_CURRENT_LIST_DIR}/package_consumer ABSOLUTE)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/${name}/KestrineConfig.cmake)
    message(FATAL_ERROR "FAIL: ${ZIP} does not unpack into ${name}/ with KestrineConfig.cmake")
endif()

set(configure ${CMAKE_COMMAND} -S ${consumer_source} -B ${WORK}/build -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${CONFIG} -DKestrine_DIR=${WORK}/${name})
if(PLATFORM)
    list(APPEND configure -A ${PLATFORM})
endif()
if(TOOLCHAIN)
    list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
if(C_COMPILER)
    list(APPEND configure -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
execute_process(COMMAND ${configure} OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${log}\nFAIL: configuring against ${name}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build --config ${CONFIG}
                OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${log}\nFAIL: building against ${name}")
endif()

# Multi-configuration generators (Visual Studio) put the program in a folder
# named after the configuration, with the DLL copied beside it.
set(folder ${WORK}/build)
if(EXISTS ${WORK}/build/${CONFIG}/consumer.exe)
    set(folder ${WORK}/build/${CONFIG})
endif()
execute_process(COMMAND ${EMULATOR} ${folder}/consumer.exe WORKING_DIRECTORY ${folder}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE rc)
string(REPLACE "\r" "" output "${output}")
string(STRIP "${output}" output)
if(NOT rc EQUAL 0 OR NOT output STREQUAL "100 -1")
    message(FATAL_ERROR "FAIL: the consumer of ${name} gave exit ${rc}, output: ${output}\n${errors}")
endif()
message(STATUS "ok: a project using find_package(Kestrine CONFIG) builds against ${name} and runs")
