# The ABI guard: libTaviWebModule.so.1 against the baseline in
# webmodule/abi/ (see cmake/AbiCheck.cmake).
#   ctest --preset dev -L abi                          compares
#   cmake --build --preset dev --target abi_baseline   writes the baseline anew
#
# Only where the comparison means something: a build with debug information
# and without sanitizers (TAVI_ABI_CHECK, on in the dev preset).
option(TAVI_ABI_CHECK "Compare the library's ABI with the baseline in webmodule/abi" OFF)
if(NOT TAVI_ABI_CHECK)
    return()
endif()
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize" OR NOT CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
    message(FATAL_ERROR "TAVI_ABI_CHECK needs a RelWithDebInfo or Debug build without sanitizers")
endif()
find_program(TAVI_ABIDW abidw)
find_program(TAVI_ABIDIFF abidiff)
if(NOT TAVI_ABIDW OR NOT TAVI_ABIDIFF)
    message(FATAL_ERROR "TAVI_ABI_CHECK needs abidw and abidiff (Debian: abigail-tools, "
        "scripts/deps.sh installs it)")
endif()

set(TAVI_ABI_DIR ${PROJECT_SOURCE_DIR}/webmodule/abi)
set(TAVI_ABI_ARGS
    -DLIBRARY=$<TARGET_FILE:TaviWebModule>
    -DBASELINE=${TAVI_ABI_DIR}/libTaviWebModule.so.1.abi
    -DSUPPRESSIONS=${TAVI_ABI_DIR}/public-interface.abignore
    -DWORK_DIR=${CMAKE_BINARY_DIR}/abi
    -DABIDW=${TAVI_ABIDW}
    -DABIDIFF=${TAVI_ABIDIFF})

add_custom_target(abi_baseline
    COMMAND ${CMAKE_COMMAND} -DMODE=update ${TAVI_ABI_ARGS}
        -P ${PROJECT_SOURCE_DIR}/cmake/AbiCheck.cmake
    DEPENDS TaviWebModule
    COMMENT "Writing the ABI baseline webmodule/abi/libTaviWebModule.so.1.abi"
    VERBATIM)

if(BUILD_TESTING)
    add_test(NAME abi_check
        COMMAND ${CMAKE_COMMAND} -DMODE=check ${TAVI_ABI_ARGS}
            -P ${PROJECT_SOURCE_DIR}/cmake/AbiCheck.cmake)
    set_tests_properties(abi_check PROPERTIES LABELS abi TIMEOUT 300)
endif()
