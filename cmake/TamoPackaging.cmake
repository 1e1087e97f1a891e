# SPDX-License-Identifier: MIT
# CPack: three Debian packages from the install components (scripts/package builds them).
#   libtamomultinetcontrol3       runtime  the shared library
#   libtamomultinetcontrol-dev    dev      headers, CMake package, pkg-config file, the .so link
#   tamomultinetcontrol-tools     tools    multinet-demo, and the player, its lab and its systemd unit when it is built
# Library dependencies come from dpkg-shlibdeps; what it cannot see is named here.
set(CPACK_PACKAGE_NAME tamomultinetcontrol)
set(CPACK_PACKAGE_VENDOR "TamoMultiNetControl developers")
set(CPACK_PACKAGE_CONTACT "TamoMultiNetControl developers <tamomultinetcontrol@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime dev tools)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(deb_version ${PROJECT_VERSION})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtamomultinetcontrol${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file in the package with the shared library, so that packages built against it depend on it
# through dpkg-shlibdeps: any 1.x from this version on.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each package's description follows the common summary line.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "The shared library that a player application links.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtamomultinetcontrol-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The headers include QtCore's, and the CMake package and .pc file ask for Qt5Core.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (= ${deb_version}), qtbase5-dev (>= 5.15)")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Headers, CMake package and pkg-config file for building player applications against the library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tamomultinetcontrol-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(tools_depends "${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (= ${deb_version})")
if(TARGET multinet-player)
  # The player loads GStreamer's elements as plugins at run time, which dpkg-shlibdeps cannot see.
  string(APPEND tools_depends ", gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-x")
  # Its unit shows the frames through KMS (kmssink); the clips people have are H.264 and H.265.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-bad, gstreamer1.0-libav")
  # The unit multinet-player@.service stays disabled; these make the user it runs as and tell systemd of it.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/player/systemd/postinst ${PROJECT_SOURCE_DIR}/player/systemd/prerm
    ${PROJECT_SOURCE_DIR}/player/systemd/postrm)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${tools_depends}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "The demo host multinet-demo, and the reference player multinet-player on GStreamer with its systemd unit and its measuring laboratory multinet-lab.")
# dpkg-shlibdeps finds the library that the tools need in this build tree (it is not installed yet).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

include(CPack)
