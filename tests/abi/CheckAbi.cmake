# SPDX-License-Identifier: MIT
# Compares LIBRARY with the ABI baseline BASELINE (abidw's XML, gzipped). Renewing the baseline is a
# decision, taken together with a new SONAME (docs/ABI.md says how).
find_program(ABIDIFF abidiff)
find_program(GZIP gzip)
if(NOT ABIDIFF OR NOT GZIP)
  message("abi: skipped: abidiff (Debian's abigail-tools) or gzip is missing")
  return()
endif()

set(baseline ${WORK_DIR}/baseline.abi)
execute_process(COMMAND ${GZIP} -dc ${BASELINE} OUTPUT_FILE ${baseline} RESULT_VARIABLE unpacked)
if(NOT unpacked EQUAL 0)
  message(FATAL_ERROR "abi: cannot unpack ${BASELINE}")
endif()

# The SONAME first: a new one means the baseline is renewed on purpose, never compared against.
file(STRINGS ${baseline} baseline_soname REGEX "<abi-corpus .*soname=" LIMIT_COUNT 1)
string(REGEX REPLACE ".*soname='([^']*)'.*" "\\1" baseline_soname "${baseline_soname}")
get_filename_component(library_name ${LIBRARY} NAME)
string(REGEX MATCH "^lib[A-Za-z]+\\.so\\.[0-9]+" library_soname "${library_name}")
if(NOT baseline_soname STREQUAL library_soname)
  message(FATAL_ERROR "abi: the library's SONAME is ${library_soname} but the baseline's is ${baseline_soname}: "
                      "renew tests/abi/TamoMultiNetControl.abi.gz for the new SONAME (docs/ABI.md)")
endif()

execute_process(
  COMMAND ${ABIDIFF} --headers-dir2 ${HEADERS} --headers-dir2 ${GENERATED} --drop-private-types --no-added-syms
          --suppressions ${SUPPRESSIONS} ${baseline} ${LIBRARY}
  RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE report)
message("${report}")
# abidiff's status is a bit set: 1 error, 2 usage, 4 a change, 8 an incompatible change. With additions
# left out of the report, any change left is a removal or a change of what the baseline has.
if(status EQUAL 0)
  message("abi: nothing of ${baseline_soname} was removed or changed")
elseif(status GREATER_EQUAL 4 AND status LESS 16)
  message(FATAL_ERROR "abi: the library removes or changes what ${baseline_soname} exports (report above): "
                      "undo that, or renew the baseline with a new SONAME (docs/ABI.md)")
else()
  message(FATAL_ERROR "abi: abidiff failed with status ${status}")
endif()
