# SPDX-License-Identifier: MIT
# Fails when a file under src/ includes a file of a higher layer, when a folder of src/ is in no layer, or
# when the public header includes anything of src/.
# Run as: cmake -DSOURCE_DIR=<src> -DPUBLIC_HEADER=<include/MultiNetControl.h> -P CheckIncludeDirection.cmake
#
# The layers, from the ground up (docs/ARCHITECTURE.md explains each). A folder may include its own
# layer and the layers below it. The public header lies below them all: it declares the types every layer
# passes around and includes nothing of the library's own.
set(layers
  "common"                 # log lines and their flood limit, guarded host calls, the owner-thread runner
  "wire"                   # the datagram format: header, codes, payloads
  "endpoint"               # the UDP endpoint, which reads the header to stamp clock datagrams
  "sending|master|slave"   # the senders, the master's report handling, the slave's commands and clock
  "control")               # dispatch and the control object's core: task queue, roster, lifecycle

set(rank 0)
foreach(layer IN LISTS layers)
  string(REPLACE "|" ";" folders "${layer}")
  foreach(folder IN LISTS folders)
    set(rank_of_${folder} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

file(GLOB folders RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(problems "")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${folder})
    continue()
  endif()
  if(NOT DEFINED rank_of_${folder})
    string(APPEND problems "  src/${folder}/ is in no layer (add it to the table in this script and to docs/ARCHITECTURE.md)\n")
    continue()
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[A-Za-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([A-Za-z0-9_]+)/.*" "\\1" target "${line}")
      file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
      if(NOT DEFINED rank_of_${target})
        string(APPEND problems "  src/${shown}: includes from ${target}/, which is in no layer\n")
      elseif(rank_of_${target} GREATER rank_of_${folder})
        string(APPEND problems "  src/${shown}: ${folder}/ includes ${target}/, a higher layer\n")
      endif()
    endforeach()
  endforeach()
endforeach()

file(STRINGS ${PUBLIC_HEADER} public_includes REGEX "^#include \"")
foreach(line IN LISTS public_includes)
  if(NOT line MATCHES "^#include \"tamomultinetcontrol_export.h\"")
    string(APPEND problems "  include/MultiNetControl.h: ${line}: the public header includes only Qt, the standard library and the export header\n")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Includes that run against the layers of src/:\n${problems}")
endif()
message(STATUS "Every include under src/ runs within its layer or down")
