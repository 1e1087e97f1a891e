# SPDX-License-Identifier: MIT
# The optional parts of the tree (benchmarks, fuzz targets, player, docs) are built only when what they
# need is there, or when asked for with TAMO_BUILD_<PART>=ON. Each part that is left out records why, and
# the top level prints every reason on one line at the end of the configure step.

# Records that `part` is not built, and why.
function(tamo_skip_part part reason)
  set_property(GLOBAL APPEND PROPERTY TAMO_SKIPPED_PARTS "${part}: ${reason}")
endfunction()

# Sets `out` to TRUE when `part` is to be built. `switch` names its AUTO/ON/OFF cache option; `found` is
# whether what it needs is there, and `reason` says what is missing when it is not. A part asked for with
# ON whose needs are missing stops the configure step instead of being skipped quietly.
function(tamo_want_part out part switch found reason)
  set(${out} FALSE PARENT_SCOPE)
  if(NOT ${switch})
    tamo_skip_part(${part} "${switch}=OFF")
  elseif(found)
    set(${out} TRUE PARENT_SCOPE)
  elseif(${switch} STREQUAL "AUTO")
    tamo_skip_part(${part} "${reason}")
  else()
    message(FATAL_ERROR "${switch}=${${switch}}, but ${reason}")
  endif()
endfunction()

# An AUTO/ON/OFF option for an optional part.
function(tamo_part_option switch description)
  set(${switch} AUTO CACHE STRING "${description} (AUTO: when what it needs is found)")
  set_property(CACHE ${switch} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# The one configure line about what was left out.
function(tamo_report_skipped_parts)
  get_property(parts GLOBAL PROPERTY TAMO_SKIPPED_PARTS)
  if(parts)
    list(JOIN parts "; " text)
    message(STATUS "Not built: ${text}")
  else()
    message(STATUS "Not built: nothing, every optional part was found")
  endif()
endfunction()
