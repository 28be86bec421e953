# tavi_add_test(<name> SOURCES <files...> [LIBRARIES <targets...>] [TIMEOUT <s>])
#
# One Qt Test program registered with CTest. Every test runs headless
# (offscreen platform) and, because CI runs as root, with the WebEngine
# sandbox disabled; each test gets its own scratch HOME and runtime folder so
# that tests do not see each other's files. Qt Multimedia uses its FFmpeg back
# end: Debian's default GStreamer one crashes without its plugins.
function(tavi_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test tavi_test_support ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/${name}")
    file(MAKE_DIRECTORY "${scratch}/home" "${scratch}/runtime")
    file(CHMOD "${scratch}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;HOME=${scratch}/home;XDG_RUNTIME_DIR=${scratch}/runtime;QT_LOGGING_RULES=qt.webenginecontext.info=false;QT_MEDIA_BACKEND=ffmpeg")
endfunction()
