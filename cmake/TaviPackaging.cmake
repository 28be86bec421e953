# Debian packages made by CPack from this build tree, without building again:
#   cpack --preset package       (the package preset's tree, build/package)
#   cpack -G DEB -B <folder>     (in any build folder; or the target "package")
#
# libtaviwebmodule<soversion>  the library, its translations, taviweb.js
# libtaviwebmodule-dev         headers, CMake package, taviwebmodule.pc, the .so link,
#                              taviweb.d.ts
# tavi-host-standins           the stand-in host libraries and TaviSim.h, for trying a
#                              host (only with TAVI_INSTALL_HOST_STANDINS)
#
# Library dependencies come from dpkg-shlibdeps. It finds libTaviLogic.so.1 and
# libTaviCommonUI.so.1 in this tree, where no package provides them, and leaves
# them out: they come with the client, which installs them beside the module.
# The stand-ins' package is never a dependency: beside the client it would put
# a second libTaviLogic.so.1 where the module looks first.

# Each package also gets what Debian policy asks of it (lintian checks them in
# the package test): a machine-readable copyright file and the changelog in
# /usr/share/doc/<package>/, a description of its own, ldconfig triggers for
# the packages with shared libraries, and lintian overrides, each with its
# reason, in cmake/debian/<package>.lintian-overrides.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME taviwebmodule)
set(CPACK_PACKAGE_VENDOR "Tavi")
set(CPACK_PACKAGE_CONTACT "${TAVI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL runtime dev)
if(TAVI_INSTALL_HOST_STANDINS)
    list(APPEND CPACK_COMPONENTS_ALL standins)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE taviwebmodule)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# shlibs files, so that packages built against a library depend on its package.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's description: its own summary line, then the details. No
# summary for all: CPack would put it before each package's.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtaviwebmodule${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "fonts-noto-cjk")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "web-page module of the Tavi VMS client
The library libTaviWebModule.so.1 shows HTML and JavaScript pages in the Tavi
VMS client on Qt WebEngine. With its translations and the page library
taviweb.js.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtaviwebmodule-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# What the installed headers and the CMake package need to compile against.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qt6-base-dev, qt6-webengine-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "web-page module of the Tavi VMS client - development files
Headers (with the host interface), CMake package and pkg-config file
taviwebmodule.pc for hosts of the Tavi web module, the TypeScript
declarations of the page library, and the API reference as HTML and as a Qt
help file.")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME tavi-host-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_STANDINS_DESCRIPTION "stand-in host libraries for trying the Tavi web module
Stand-ins for the host libraries libTaviLogic.so.1 and libTaviCommonUI.so.1,
with a simulated SDK and TaviSim.h, for trying a host of the Tavi web module
without the client. Not for machines with the client.")

# dpkg runs ldconfig once after installing or removing shared libraries.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)

# The changelog is the source package's, one for the three; its latest entry
# names the version being packaged.
set(tavi_deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog tavi_changelog_top LIMIT_COUNT 1)
if(NOT tavi_changelog_top MATCHES "^taviwebmodule \\(${tavi_deb_version}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog: the first entry must be for ${tavi_deb_version}, "
        "not: ${tavi_changelog_top}")
endif()
find_program(TAVI_GZIP gzip REQUIRED)
set(tavi_debian_dir ${CMAKE_BINARY_DIR}/debian)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${tavi_debian_dir}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${tavi_debian_dir}/changelog.Debian @ONLY)
# -n: no name or time stamp, so that the packages are reproducible.
execute_process(COMMAND ${TAVI_GZIP} -9nf ${tavi_debian_dir}/changelog.Debian
    RESULT_VARIABLE tavi_gzip_rc)
if(NOT tavi_gzip_rc EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${tavi_debian_dir}/changelog.Debian")
endif()

set(tavi_packages runtime libtaviwebmodule${PROJECT_VERSION_MAJOR} dev libtaviwebmodule-dev)
if(TAVI_INSTALL_HOST_STANDINS)
    list(APPEND tavi_packages standins tavi-host-standins)
endif()
while(tavi_packages)
    list(POP_FRONT tavi_packages component package)
    install(FILES ${tavi_debian_dir}/copyright ${tavi_debian_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    set(overrides ${PROJECT_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides)
    if(EXISTS ${overrides})
        install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
            RENAME ${package} COMPONENT ${component})
    endif()
endwhile()

include(CPack)
cpack_add_component(dev DEPENDS runtime)
