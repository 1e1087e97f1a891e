# SPDX-License-Identifier: MIT
# In the sanitizer builds every test loads GStreamer with the plugins named below only, and with a
# registry of its own, so that the plugin packages on the machine change nothing. What they change is the
# number of GLib quarks a process makes, mostly from the registry's entries: GLib keeps 2048 in its first
# block and drops that block, on purpose, when a process makes more, and LeakSanitizer reports its 16384
# bytes with only malloc and g_malloc on the stack, which no suppression can tell from a leak of ours.
# With gstreamer1.0-libav on the machine every process that loaded GStreamer went past 2048; with the
# whole of the base, good and X plugins the window test's did. The asan and tsan presets include this file after
# project() (CMAKE_PROJECT_TamoMultiNetControl_INCLUDE in CMakePresets.json); the default build leaves
# GStreamer to the machine's plugins.

# The plugins those tests may load (libgst<name>.so in GStreamer's plugin directory), each from a package
# that PLAYER_PACKAGES in scripts/lib/ensure-packages.sh installs. To allow another, add its name on a line
# here (and its package to PLAYER_PACKAGES). The player's tests make up to about 1600 quarks with these;
# gstreamer1.0-libav's plugin alone would add some 1450.
set(TAMO_SANITIZER_GST_PLUGINS
  coreelements        # libgstreamer1.0-0: queue, fakesink, filesink
  playback            # gstreamer1.0-plugins-base: playbin, decodebin
  typefindfunctions   # base: what a clip holds
  subparse            # base: its typefinder, which typefinding loads
  videoconvertscale   # base
  videotestsrc        # base: make-clip
  theora              # base: Theora clips
  ogg                 # base: Ogg
  jpeg                # gstreamer1.0-plugins-good: Motion JPEG clips
  avi                 # good: AVI
  vpx                 # good: VP8 clips
  matroska            # good: WebM
  videofilter         # good: playbin's colour balance
  pango               # gstreamer1.0-x: numbers on the frames
  ximagesink)         # gstreamer1.0-x: windows

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(tamo_gst_plugins_dir gstreamer-1.0 pluginsdir)
endif()
if(NOT tamo_gst_plugins_dir)
  message(WARNING "GStreamer not found: the sanitizer tests would load whatever GStreamer plugins the machine has")
  return()
endif()

# A directory of links to the allowed plugin files, made again at every configure step. A link to a
# plugin that is not installed yet starts to work once its package is.
set(tamo_gst_test_dir ${CMAKE_BINARY_DIR}/gstreamer)
file(REMOVE_RECURSE ${tamo_gst_test_dir})
file(MAKE_DIRECTORY ${tamo_gst_test_dir}/plugins)
foreach(plugin ${TAMO_SANITIZER_GST_PLUGINS})
  set(file ${tamo_gst_plugins_dir}/libgst${plugin}.so)
  if(NOT EXISTS ${file})
    message(WARNING "${file} is missing (PLAYER_PACKAGES in scripts/lib/ensure-packages.sh): the sanitizer tests that need it fail")
  endif()
  file(CREATE_LINK ${file} ${tamo_gst_test_dir}/plugins/libgst${plugin}.so SYMBOLIC)
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
