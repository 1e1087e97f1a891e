#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets (preset "fuzz", clang) and runs the receive-path fuzzer for the given number of
# seconds (default 60). The corpus it grows is kept in build/fuzz/corpus; the seeds stay as they are.
# A crash, a sanitizer report or a broken property stops the run with a non-zero exit and leaves the input
# in build/fuzz/crash-*: turn it into a row of tests/malformed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"

mkdir -p build/fuzz/corpus
# -detect_leaks=0: the harness keeps its control objects across inputs on purpose, so libFuzzer's check
# after each input would report them; LeakSanitizer still checks the whole process when it exits.
# -close_fd_mask=1: the library's log lines on standard output would only slow the run down.
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  build/fuzz/fuzz/fuzz_receive_path -max_total_time="$seconds" -timeout=10 -detect_leaks=0 -close_fd_mask=1 \
  -print_final_stats=1 -dict=fuzz/receive_path.dict -artifact_prefix=build/fuzz/ \
  build/fuzz/corpus fuzz/seeds 2>&1 | { grep -v -E '^#[0-9]+ +(NEW|REDUCE) ' || true; }
