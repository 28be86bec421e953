# Debian packages made by CPack from this build tree, without building again:
#   cpack -G DEB -B <folder>     (in the build folder; or the target "package")
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME taviwebmodule)
set(CPACK_PACKAGE_VENDOR "Tavi")
set(CPACK_PACKAGE_CONTACT "${TAVI_PACKAGE_CONTACT}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL runtime dev)
if(TAVI_INSTALL_HOST_STANDINS)
    list(APPEND CPACK_COMPONENTS_ALL standins)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# shlibs files, so that packages built against a library depend on its package.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's summary is the project's description; these follow it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtaviwebmodule${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "fonts-noto-cjk")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "The library libTaviWebModule.so.1 shows HTML and JavaScript
pages in the Tavi VMS client on Qt WebEngine. With its translations and the
page library taviweb.js.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtaviwebmodule-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# What the installed headers and the CMake package need to compile against.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qt6-base-dev, qt6-webengine-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Headers (with the host interface), CMake package and pkg-config
file taviwebmodule.pc for hosts of the Tavi web module, and the TypeScript
declarations of the page library.")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME tavi-host-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_STANDINS_DESCRIPTION "Stand-ins for the host libraries libTaviLogic.so.1 and
libTaviCommonUI.so.1, with a simulated SDK and TaviSim.h, for trying a host of
the Tavi web module without the client. Not for machines with the client.")

include(CPack)
cpack_add_component(dev DEPENDS runtime)
