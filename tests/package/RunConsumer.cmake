# Builds the Debian packages from the module's build tree, checks what each
# holds and depends on and what lintian says of them (no error, no warning
# that is not overridden with its reason), unpacks them into a scratch root
# with dpkg -x, and
# builds and runs a host there twice: a CMake project that finds the module
# with find_package (compiling the host guide's snippets on the way) and the
# same program built with the README's pkg-config line, word for word; then a
# host built with QT_NO_KEYWORDS opens two tabs and sees each per-page signal
# on its own tab.
#   -DBUILD_DIR=<module build tree> -DSOURCE_DIR=<consumer sources> -DWORK_DIR=<scratch>
#   -DGUIDE=<host guide> -DREADME=<README.md> -DVERSION=<project version>
#   -DLIBDIR=<CMAKE_INSTALL_LIBDIR> -DLINTIAN=<lintian>
file(REMOVE_RECURSE "${WORK_DIR}")
set(root "${WORK_DIR}/root")
set(deb_version "${VERSION}-1")
include("${CMAKE_CURRENT_LIST_DIR}/GuideSnippets.cmake")
guide_snippets("${GUIDE}" "${WORK_DIR}/guide_snippets.cpp")

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

# Checks one package: its Depends matches DEPENDS, neither Depends nor the
# file list matches LACKS, it holds FILES (under /usr); then unpacks it.
function(check_package package)
    cmake_parse_arguments(ARG "" "DEPENDS;LACKS" "FILES" ${ARGN})
    file(GLOB deb "${WORK_DIR}/packages/${package}_${deb_version}_*.deb")
    run("dpkg-deb -f ${package}" dpkg-deb -f "${deb}" Depends)
    set(depends "${out}")
    run("dpkg-deb -c ${package}" dpkg-deb -c "${deb}")
    # The package's own copyright, changelog and lintian overrides bear its name.
    string(REGEX REPLACE "[^\n]*/usr/share/(doc|lintian/overrides)/${package}[^\n]*\n" ""
        contents "${out}")
    if(NOT depends MATCHES "${ARG_DEPENDS}" OR "${depends}${contents}" MATCHES "${ARG_LACKS}")
        message(FATAL_ERROR "${package}: Depends: ${depends}\n${out}")
    endif()
    foreach(f IN LISTS ARG_FILES)
        if(NOT out MATCHES " \\./usr/${f}( |\n)")
            message(FATAL_ERROR "${package} lacks /usr/${f}:\n${out}")
        endif()
    endforeach()
    run("dpkg -x ${package}" dpkg -x "${deb}" "${root}")
endfunction()

run("cpack" ${CMAKE_CPACK_COMMAND} -G DEB --config "${BUILD_DIR}/CPackConfig.cmake"
    -B "${WORK_DIR}/packages")
file(GLOB debs RELATIVE "${WORK_DIR}/packages" "${WORK_DIR}/packages/*.deb")
list(SORT debs)
if(NOT debs MATCHES "^libtaviwebmodule-dev_[^;]+;libtaviwebmodule1_[^;]+;tavi-host-standins_[^;]+$")
    message(FATAL_ERROR "unexpected packages: ${debs}")
endif()

# Debian policy. Overrides come with the packages, each with its reason.
if(NOT LINTIAN)
    message(FATAL_ERROR "lintian not found (Debian: lintian; scripts/deps.sh installs it)")
endif()
list(TRANSFORM debs PREPEND "${WORK_DIR}/packages/")
execute_process(COMMAND "${LINTIAN}" --fail-on error,warning ${debs}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lintian (${rc}):\n${out}${err}")
endif()
message(STATUS "lintian: no errors, no warnings${out}")
# The library's dependencies come from dpkg-shlibdeps, without the host's
# libraries and the stand-ins.
check_package(libtaviwebmodule1
    DEPENDS "libqt6webenginewidgets6 .*libstdc"
    LACKS "libtavi|tavi-host|TaviLogic|TaviCommonUI|libTaviWebModule\\.so |/include/|\\.d\\.ts"
    FILES ${LIBDIR}/libTaviWebModule.so.1 share/TaviWebModule/translations/taviwebmodule_zh_CN.qm
          share/TaviWebModule/js/taviweb.js share/doc/libtaviwebmodule1/copyright
          share/doc/libtaviwebmodule1/changelog.Debian.gz)
check_package(libtaviwebmodule-dev
    DEPENDS "^libtaviwebmodule1 \\(= ${deb_version}\\), qt6-base-dev"
    LACKS "[Ss]tandins|TaviSim|\\.so\\.1\\.|taviweb\\.js"
    FILES ${LIBDIR}/libTaviWebModule.so include/TaviWebModule/VmsWebWidgets.h
          include/TaviWebModule/TaviWebModuleVersion.h include/TaviWebModule/TaviLogic.h
          ${LIBDIR}/cmake/TaviWebModule/TaviWebModuleConfig.cmake
          ${LIBDIR}/pkgconfig/taviwebmodule.pc
          share/TaviWebModule/js/taviweb.d.ts share/TaviWebModule/js/taviweb-api.d.ts
          share/doc/libtaviwebmodule-dev/copyright share/doc/libtaviwebmodule-dev/changelog.Debian.gz
          share/doc/libtaviwebmodule-dev/html/index.html
          share/doc/libtaviwebmodule-dev/html/classVmsWebWidgets.html
          share/doc/libtaviwebmodule-dev/html/TaviPage_8h.html
          share/doc/libtaviwebmodule-dev/TaviWebModule.qch)
check_package(tavi-host-standins
    DEPENDS "libqt6core6"
    LACKS "libtavi|TaviWebModule\\.so|VmsWebWidgets|TaviWebModuleConfig"
    FILES ${LIBDIR}/libTaviLogic.so.1 ${LIBDIR}/libTaviCommonUI.so.1
          include/TaviWebModule/TaviSim.h ${LIBDIR}/cmake/TaviWebModule/TaviHostStandinsTargets.cmake
          share/doc/tavi-host-standins/copyright share/doc/tavi-host-standins/changelog.Debian.gz)

run("configuring the consumer" ${CMAKE_COMMAND} -G Ninja -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
    "-DCMAKE_PREFIX_PATH=${root}/usr" "-DGUIDE_SNIPPETS=${WORK_DIR}/guide_snippets.cpp")
run("building the consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/build")

set(ENV{PKG_CONFIG_PATH} "${root}/usr/${LIBDIR}/pkgconfig")
run("pkg-config" pkg-config --modversion taviwebmodule)
if(NOT out STREQUAL "${VERSION}\n")
    message(FATAL_ERROR "pkg-config reports version ${out}")
endif()
# The paths are absolute, those of the packages (/usr). Unpacked here, the
# file gets this tree's prefix, as an installation with that prefix writes it.
run("pkg-config" pkg-config --variable=includedir taviwebmodule)
if(NOT out STREQUAL "/usr/include/TaviWebModule\n")
    message(FATAL_ERROR "pkg-config reports includedir ${out}")
endif()
set(pc_file "${root}/usr/${LIBDIR}/pkgconfig/taviwebmodule.pc")
file(READ "${pc_file}" pc)
string(REGEX REPLACE "^prefix=/usr\n" "prefix=${root}/usr\n" pc "${pc}")
file(WRITE "${pc_file}" "${pc}")
# The README's line as a host developer types it, in a folder holding the
# program as myhost.cpp: nothing added, so that a flag the host needs and
# the .pc file lacks fails here (without -fPIC the casts to Qt's classes
# fail). The folders pkg-config names are the program's arguments.
file(STRINGS "${README}" pc_line REGEX "^c\\+\\+ .*\\$\\(pkg-config --cflags --libs taviwebmodule\\)$")
list(LENGTH pc_line pc_lines)
if(NOT pc_lines EQUAL 1 OR NOT pc_line MATCHES " myhost\\.cpp ")
    message(FATAL_ERROR "the README has no single pkg-config line building myhost.cpp: ${pc_line}")
endif()
set(pc_dir "${WORK_DIR}/pkg-config")
file(MAKE_DIRECTORY "${pc_dir}")
file(COPY_FILE "${SOURCE_DIR}/main.cpp" "${pc_dir}/myhost.cpp")
execute_process(COMMAND sh -c "${pc_line}" WORKING_DIRECTORY "${pc_dir}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS "${pc_dir}/a.out")
    message(FATAL_ERROR "the README's line failed (${rc}): ${pc_line}\n${out}${err}")
endif()
set(pc_args)
foreach(dir translationsdir jsdir)
    run("pkg-config" pkg-config --variable=${dir} taviwebmodule)
    string(STRIP "${out}" dir)
    list(APPEND pc_args "${dir}")
endforeach()

# Each prints the data center's class, both versions, whether the
# translation and the page library were found, the three casts and the
# simulated SDK's answer. The README's line sets no run path: that host finds
# the unpacked libraries through LD_LIBRARY_PATH, as an installed host finds
# them in the system's folder.
foreach(consumer "${WORK_DIR}/build/tavi_consumer" "${pc_dir}/a.out")
    if(consumer MATCHES "a\\.out$")
        set(command ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${root}/usr/${LIBDIR}" "${consumer}"
            ${pc_args})
    else()
        set(command "${consumer}")
    endif()
    run("running ${consumer}" ${command})
    if(NOT out MATCHES "^WebViewDataCenter ${VERSION} ${VERSION} 11 111 [^\n]*\"result\":\"ok\"")
        message(FATAL_ERROR "${consumer} answered: ${out}")
    endif()
    message(STATUS "${consumer}: ${out}")
endforeach()

run("two tabs" "${WORK_DIR}/build/tavi_two_tabs")
message(STATUS "two tabs:\n${out}")
