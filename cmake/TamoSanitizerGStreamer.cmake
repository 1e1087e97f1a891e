# SPDX-License-Identifier: MIT
# In the sanitizer builds every test loads GStreamer with the plugins of the packages below only, and with
# a registry of its own, so that other plugin packages on the machine change nothing: with
# gstreamer1.0-libav there, every process that loaded GStreamer outgrew GLib's first quark block, and
# LeakSanitizer reported the block that GLib drops then. The asan and tsan presets include this file after
# project() (CMAKE_PROJECT_TamoMultiNetControl_INCLUDE in CMakePresets.json); the default build leaves
# GStreamer to the machine's plugins.

# The Debian packages whose plugins those tests may load: the ones PLAYER_PACKAGES in
# scripts/lib/ensure-packages.sh installs. To allow another plugin package, add it here on a line of its
# own (and to PLAYER_PACKAGES, which installs it). Mind the quarks: GLib keeps 2048 in its first block and
# drops that block, on purpose, when a process makes more; LeakSanitizer then reports its 16384 bytes with
# only malloc and g_malloc on the stack, which no suppression can tell from a leak of ours. The player's
# tests make up to about 1950 with this set; gstreamer1.0-libav's registry entries alone make some 1450.
set(TAMO_SANITIZER_GST_PACKAGES
  libgstreamer1.0-0           # core elements: queue, fakesink, filesink
  gstreamer1.0-plugins-base   # playbin, videotestsrc, videoconvert, Theora, Ogg
  gstreamer1.0-plugins-good   # Motion JPEG, AVI, VP8, WebM
  gstreamer1.0-x)             # ximagesink, textoverlay

find_package(PkgConfig QUIET)
find_program(TAMO_DPKG_QUERY dpkg-query)
if(PkgConfig_FOUND)
  pkg_get_variable(tamo_gst_plugins_dir gstreamer-1.0 pluginsdir)
endif()
if(NOT TAMO_DPKG_QUERY OR NOT tamo_gst_plugins_dir)
  message(WARNING "No dpkg-query or no GStreamer: the sanitizer tests load whatever GStreamer plugins the machine has")
  return()
endif()

# A directory of links to the allowed plugin files, made again at every configure step; a package
# installed, upgraded or removed configures again.
set(tamo_gst_test_dir ${CMAKE_BINARY_DIR}/gstreamer)
file(REMOVE_RECURSE ${tamo_gst_test_dir})
file(MAKE_DIRECTORY ${tamo_gst_test_dir}/plugins)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS /var/lib/dpkg/status)
string(REGEX REPLACE "([.+])" "\\\\\\1" plugins_dir_pattern "${tamo_gst_plugins_dir}")
foreach(package ${TAMO_SANITIZER_GST_PACKAGES})
  execute_process(COMMAND ${TAMO_DPKG_QUERY} -L ${package} RESULT_VARIABLE status OUTPUT_VARIABLE files ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(WARNING "${package} is not installed: the sanitizer tests go without its GStreamer plugins")
    continue()
  endif()
  string(REGEX MATCHALL "${plugins_dir_pattern}/[^/\n]+\\.so" plugins "${files}")
  foreach(plugin ${plugins})
    get_filename_component(name ${plugin} NAME)
    file(CREATE_LINK ${plugin} ${tamo_gst_test_dir}/plugins/${name} SYMBOLIC)
  endforeach()
endforeach()

# ctest reads this before the tests of a directory and sets it in its own environment, which every test
# inherits, also the players that a test's script starts. GST_PLUGIN_PATH adds to the system path, so it
# goes; the registry is the build's, so that it never lists a plugin from elsewhere.
file(WRITE ${tamo_gst_test_dir}/environment.cmake
  "set(ENV{GST_PLUGIN_SYSTEM_PATH_1_0} \"${tamo_gst_test_dir}/plugins\")\n"
  "set(ENV{GST_REGISTRY_1_0} \"${tamo_gst_test_dir}/registry.bin\")\n"
  "unset(ENV{GST_PLUGIN_PATH_1_0})\n"
  "unset(ENV{GST_PLUGIN_PATH})\n")

# Every directory of tests, so that ctest run in any of them sets it; called once all are known.
function(tamo_sanitizer_gst_environment directory)
  set_property(DIRECTORY ${directory} APPEND PROPERTY TEST_INCLUDE_FILES ${tamo_gst_test_dir}/environment.cmake)
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    tamo_sanitizer_gst_environment(${subdirectory})
  endforeach()
endfunction()
cmake_language(DEFER CALL tamo_sanitizer_gst_environment ${CMAKE_SOURCE_DIR})
