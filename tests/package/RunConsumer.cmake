# Installs the build tree into a scratch prefix, then configures, builds and
# runs a host project that finds the module with find_package, compiling the
# host guide's snippets on the way.
#   -DBUILD_DIR=<module build tree> -DSOURCE_DIR=<consumer sources> -DWORK_DIR=<scratch>
#   -DGUIDE=<host guide>
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
include("${CMAKE_CURRENT_LIST_DIR}/GuideSnippets.cmake")
guide_snippets("${GUIDE}" "${WORK_DIR}/guide_snippets.cpp")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install failed: ${rc}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -G Ninja -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
        "-DCMAKE_PREFIX_PATH=${prefix}" "-DGUIDE_SNIPPETS=${WORK_DIR}/guide_snippets.cpp"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK_DIR}/build" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()

execute_process(COMMAND "${WORK_DIR}/build/tavi_consumer"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "WebViewDataCenter")
    message(FATAL_ERROR "the consumer did not run: ${rc} ${out}")
endif()
message(STATUS "consumer built and ran: ${out}")
