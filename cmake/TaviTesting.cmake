# tavi_add_test(<name> SOURCES <files...> [LIBRARIES <targets...>] [TIMEOUT <s>]
#               [PLATFORMS <offscreen|xcb|wayland>...])
#
# One Qt Test program registered with CTest, once per platform (default:
# offscreen only). Because CI runs as root, the WebEngine sandbox is
# disabled; each test gets its own scratch HOME and runtime folder so that
# tests do not see each other's files. Qt Multimedia uses its FFmpeg back
# end: Debian's default GStreamer one crashes without its plugins.
#
# Every such test has the label "native" (the C++ suites the sanitizer runs
# take). On xcb the test runs as <name>_x11 on its own X server (xvfb-run, with
# Mesa's OpenGL), label "x11", one at a time: it checks what a real display
# shows, which the offscreen platform cannot. On wayland it runs as
# <name>_wayland on a Weston compositor of its own (scripts/weston-run.sh,
# headless back end), label "wayland".
find_program(TAVI_XVFB_RUN xvfb-run)
if(NOT TAVI_XVFB_RUN)
    message(STATUS "xvfb-run not found: the tests on an X server are skipped")
endif()
find_program(TAVI_WESTON weston)
find_file(TAVI_QT_WAYLAND_PLUGIN libqwayland-generic.so
    PATHS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms
    /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/qt6/plugins/platforms NO_DEFAULT_PATH)
if(NOT TAVI_WESTON OR NOT TAVI_QT_WAYLAND_PLUGIN)
    message(STATUS "weston or qt6-wayland not found: the tests on Wayland are skipped")
endif()
set(TAVI_WESTON_RUN ${PROJECT_SOURCE_DIR}/scripts/weston-run.sh)

function(tavi_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;PLATFORMS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test tavi_test_support ${ARG_LIBRARIES})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(NOT ARG_PLATFORMS)
        set(ARG_PLATFORMS offscreen)
    endif()
    foreach(platform IN LISTS ARG_PLATFORMS)
        if(platform STREQUAL "xcb" AND NOT TAVI_XVFB_RUN)
            continue()
        elseif(platform STREQUAL "wayland" AND (NOT TAVI_WESTON OR NOT TAVI_QT_WAYLAND_PLUGIN))
            continue()
        elseif(platform STREQUAL "wayland")
            set(test ${name}_wayland)
            add_test(NAME ${test} COMMAND ${TAVI_WESTON_RUN} $<TARGET_FILE:${name}>)
            set_tests_properties(${test} PROPERTIES LABELS "native;wayland")
        elseif(platform STREQUAL "xcb")
            set(test ${name}_x11)
            add_test(NAME ${test}
                COMMAND ${TAVI_XVFB_RUN} -a -s "-screen 0 1600x1000x24" $<TARGET_FILE:${name}>)
            set_tests_properties(${test} PROPERTIES LABELS "native;x11" RESOURCE_LOCK x11)
        else()
            set(test ${name})
            add_test(NAME ${test} COMMAND ${name})
            set_tests_properties(${test} PROPERTIES LABELS native)
        endif()
        set(scratch "${CMAKE_CURRENT_BINARY_DIR}/scratch/${test}")
        file(MAKE_DIRECTORY "${scratch}/home" "${scratch}/runtime")
        file(CHMOD "${scratch}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
        set_tests_properties(${test} PROPERTIES
            TIMEOUT ${ARG_TIMEOUT}
            ENVIRONMENT "QT_QPA_PLATFORM=${platform};QTWEBENGINE_DISABLE_SANDBOX=1;HOME=${scratch}/home;XDG_RUNTIME_DIR=${scratch}/runtime;QT_LOGGING_RULES=qt.webenginecontext.info=false;QT_MEDIA_BACKEND=ffmpeg")
    endforeach()
endfunction()
