# Included by webmodule/CMakeLists.txt, which names the headers.
# The reference for host developers: Doxygen on every installed header (the
# TAVI_INSTALLED_HEADERS of the module, with the host interface, and of the
# stand-ins when they are installed), as HTML and as a Qt help file. Built
# with everything (target docs_reference); installed by the development
# package under share/doc/libtaviwebmodule-dev/. Its tag file lists the pages
# for the test reference_pages (tests/headers/).
option(TAVI_BUILD_REFERENCE "Build the API reference (Doxygen)" ON)
if(NOT TAVI_BUILD_REFERENCE)
    return()
endif()
find_package(Doxygen 1.9)
find_program(TAVI_AWK NAMES awk mawk gawk)
find_program(TAVI_QHELPGENERATOR qhelpgenerator
    HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS}" /usr/lib/qt6/libexec)
if(NOT DOXYGEN_FOUND OR NOT TAVI_AWK OR NOT TAVI_QHELPGENERATOR)
    message(FATAL_ERROR "The reference needs doxygen, awk and Qt's qhelpgenerator "
        "(Debian: doxygen, qt6-documentation-tools; scripts/deps.sh installs them), "
        "or -DTAVI_BUILD_REFERENCE=OFF")
endif()

set(TAVI_REFERENCE_DIR ${CMAKE_BINARY_DIR}/reference)
# Warnings, undocumented members among them, fail the build where compiler
# warnings do.
if(TAVI_WARNINGS_AS_ERRORS)
    set(TAVI_REFERENCE_WARN_AS_ERROR FAIL_ON_WARNINGS)
else()
    set(TAVI_REFERENCE_WARN_AS_ERROR NO)
endif()
set(TAVI_REFERENCE_QHP YES)
get_target_property(reference_headers TaviWebModule TAVI_INSTALLED_HEADERS)
get_target_property(standin_headers TaviLogic TAVI_INSTALLED_HEADERS)
if(standin_headers)
    list(APPEND reference_headers ${standin_headers})
endif()
set(reference_inputs
    ${reference_headers}
    ${PROJECT_SOURCE_DIR}/docs/reference/mainpage.md
    ${PROJECT_SOURCE_DIR}/docs/reference/files.dox)
list(JOIN reference_inputs " " TAVI_REFERENCE_INPUT)
set(reference_folders ${reference_headers})
list(TRANSFORM reference_folders REPLACE "/[^/]*$" "")
list(REMOVE_DUPLICATES reference_folders)
list(JOIN reference_folders " " TAVI_REFERENCE_STRIP)
set(TAVI_REFERENCE_TAGFILE ${TAVI_REFERENCE_DIR}/TaviWebModule.tag)
configure_file(${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in ${TAVI_REFERENCE_DIR}/Doxyfile @ONLY)

set(reference_outputs ${TAVI_REFERENCE_DIR}/html/index.html ${TAVI_REFERENCE_DIR}/TaviWebModule.qch
    ${TAVI_REFERENCE_TAGFILE})
add_custom_command(
    OUTPUT ${reference_outputs}
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${TAVI_REFERENCE_DIR}/html
    COMMAND ${CMAKE_COMMAND} -E remove -f ${TAVI_REFERENCE_DIR}/TaviWebModule.qch
        ${TAVI_REFERENCE_TAGFILE}
    COMMAND Doxygen::doxygen ${TAVI_REFERENCE_DIR}/Doxyfile
    # Doxygen reports a failed qhelpgenerator without failing itself: this
    # fails without the files.
    COMMAND ${CMAKE_COMMAND} -E sha256sum ${reference_outputs}
    # The configured Doxyfile, for a changed list of inputs.
    DEPENDS ${reference_inputs}
        ${TAVI_REFERENCE_DIR}/Doxyfile
        ${PROJECT_SOURCE_DIR}/docs/reference/Doxyfile.in
        ${PROJECT_SOURCE_DIR}/docs/reference/doc-comments.awk
    WORKING_DIRECTORY ${TAVI_REFERENCE_DIR}
    COMMENT "Generating the API reference (Doxygen)"
    VERBATIM)
add_custom_target(docs_reference ALL DEPENDS ${reference_outputs})
set_target_properties(docs_reference PROPERTIES TAVI_REFERENCE_TAGFILE ${TAVI_REFERENCE_TAGFILE})

set(TAVI_REFERENCE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/doc/libtaviwebmodule-dev)
install(DIRECTORY ${TAVI_REFERENCE_DIR}/html
    DESTINATION ${TAVI_REFERENCE_INSTALL_DIR} COMPONENT dev)
install(FILES ${TAVI_REFERENCE_DIR}/TaviWebModule.qch
    DESTINATION ${TAVI_REFERENCE_INSTALL_DIR} COMPONENT dev)
