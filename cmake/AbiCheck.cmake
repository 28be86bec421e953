# Compares the ABI of the built libTaviWebModule.so.1 with the baseline in the
# repository, or (MODE update) writes the baseline anew from the built library.
#   cmake -DMODE=<check|update> -DLIBRARY=<.so> -DBASELINE=<.abi> -DSUPPRESSIONS=<.abignore>
#         -DWORK_DIR=<scratch> -DABIDW=<abidw> -DABIDIFF=<abidiff> -P AbiCheck.cmake
#
# Both sides are written by abidw with the same options (no paths, no source
# lines, hashed type ids), so that the baseline changes only when the ABI does.
set(abidw_options
    --suppressions "${SUPPRESSIONS}"
    --no-corpus-path --no-comp-dir-path --no-show-locs --no-elf-needed
    --type-id-style hash)

function(write_abi out)
    execute_process(COMMAND "${ABIDW}" ${abidw_options} --out-file "${out}" "${LIBRARY}"
        RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "abidw failed (${rc}) on ${LIBRARY}:\n${err}")
    endif()
    # A library without debug information gives a baseline of symbols only,
    # which would miss every change of a class layout.
    file(STRINGS "${out}" classes REGEX "<class-decl name='VmsWebWidgets'")
    if(NOT classes)
        message(FATAL_ERROR "${LIBRARY} has no debug information for its classes: "
            "the ABI is compared on a build with -g (the dev preset)")
    endif()
endfunction()

if(MODE STREQUAL "update")
    write_abi("${BASELINE}")
    file(STRINGS "${BASELINE}" symbols REGEX "<elf-symbol ")
    list(LENGTH symbols count)
    message(STATUS "ABI baseline written: ${BASELINE} (${count} exported symbols); "
        "review and commit it")
    return()
elseif(NOT MODE STREQUAL "check")
    message(FATAL_ERROR "MODE must be check or update, not '${MODE}'")
endif()

file(MAKE_DIRECTORY "${WORK_DIR}")
set(current "${WORK_DIR}/libTaviWebModule.so.1.abi")
write_abi("${current}")
execute_process(COMMAND "${ABIDIFF}" --no-show-locs "${BASELINE}" "${current}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0)
    message(STATUS "ABI as in ${BASELINE}")
    return()
endif()
# abidiff's exit code is a bit field: 1 error, 2 usage, 4 change, 8 incompatible.
if(NOT rc MATCHES "^[0-9]+$" OR (rc GREATER_EQUAL 16) OR (rc LESS 4))
    message(FATAL_ERROR "abidiff failed (${rc}):\n${out}${err}")
endif()
math(EXPR incompatible "${rc} & 8")
if(incompatible)
    string(CONCAT verdict "an INCOMPATIBLE change: hosts built against 1.x would break. "
        "Undo it; it needs a new soname")
else()
    string(CONCAT verdict "abidiff cannot tell whether it is compatible. An added function or "
        "class is; a changed size, member offset, virtual function or signature of a "
        "class hosts use is not. Only for an intended, compatible addition, update the "
        "baseline and commit it with the change:\n"
        "    cmake --build --preset dev --target abi_baseline")
endif()
message(FATAL_ERROR "libTaviWebModule.so.1 differs from ${BASELINE}: ${verdict}\n\n${out}${err}")
