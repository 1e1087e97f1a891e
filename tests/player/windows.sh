#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The players' windows: a master and two slaves, each in a window of a virtual display of this test's own
# (Xvfb), play a 3 s clip of FORMAT through the session. Every window is read from grabs of the screen by
# the frame number that the clip carries in blocks (player/FrameCode.h):
# - while the session holds its pause, each window must show the frame its player's frame log ends on,
#   the same in all three;
# - while the programme plays, one grab catches all three at one instant: each must show a frame its
#   player logged, all within a few frames of each other (a window's redraw may lag on a busy machine).
# usage: windows.sh PATH_TO_MULTINET_PLAYER [avi|ogg|webm]        Exit status 77: skipped.
set -euo pipefail
readonly PLAYER=$1
readonly FORMAT=${2:-avi}
source "$(dirname "$0")/shown-frames.sh"

readonly NAMES=(master "slave 1" "slave 2")
readonly LOGS=(library-master library-slave1 library-slave2)
# Frames apart that windows grabbed while playing may be.
readonly PLAYING_TOLERANCE=3

"$PLAYER" make-clip "$work/clip.$FORMAT" --seconds 3 >/dev/null
player_display_start 1000x270
# The pause is held for 6 s instead of 0.4: time for the frame logs to be written out (every second) and
# for the grab, however busy the machine. The skew is the headless tests' to judge: a loose bound here.
"$PLAYER" run --window --verbose --slaves 2 --clip "$work/clip.$FORMAT" --work-dir "$work" --pause-ms 6000 \
  --bound-us 20000 >"$work/run.log" 2>&1 &
run_pid=$!
pids+=("$run_pid")
player_windows_place 60 10 "${NAMES[@]}" || fail "the players' windows did not appear"
grab_session "$work/run.log" "$run_pid" "${NAMES[0]}=$work/${LOGS[0]}.frames" "${NAMES[1]}=$work/${LOGS[1]}.frames" \
  "${NAMES[2]}=$work/${LOGS[2]}.frames"
[ "${paused[0]}" = "${paused[1]}" ] && [ "${paused[0]}" = "${paused[2]}" ] || fail "the windows hold different frames"

wait "$run_pid" || fail "the run failed"
for i in "${!NAMES[@]}"; do
  shown_was_logged "${NAMES[i]}" "${playing[i]}" "$work/${LOGS[i]}.frames"
  apart=$((playing[i] - playing[0]))
  [ "${apart#-}" -le "$PLAYING_TOLERANCE" ] || fail "${NAMES[i]} showed frame ${playing[i]} while the master showed frame ${playing[0]}"
done
echo "PASS: windows ($FORMAT)"
