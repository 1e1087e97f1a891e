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
source "$(dirname "$0")/../../scripts/lib/player-display.sh"
source "$(dirname "$0")/shown-frames.sh"

for tool in Xvfb xdpyinfo xdotool import convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (PICTURE_PACKAGES in scripts/lib/ensure-packages.sh)"
    exit 77
  fi
done

readonly NAMES=(master "slave 1" "slave 2")
readonly LOGS=(library-master library-slave1 library-slave2)
# Frames apart that windows grabbed while playing may be.
readonly PLAYING_TOLERANCE=3

work=$(mktemp -d /tmp/multinet-windows-XXXX)
run_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null && wait "$run_pid" 2>/dev/null
  player_display_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 30 "$work/run.log"
  exit 1
}

# Waits up to SECONDS for a line with TEXT from the run.
run_said() { said "$work/run.log" "$1" "$2" "$run_pid"; }
log_of() { echo "$work/${LOGS[$1]}.frames"; }

"$PLAYER" make-clip "$work/clip.$FORMAT" --seconds 3 >/dev/null
player_display_start 1000x270
# The pause is held for 6 s instead of 0.4: time for the frame logs to be written out (every second) and
# for the grab, however busy the machine. The skew is the headless tests' to judge: a loose bound here.
"$PLAYER" run --window --verbose --slaves 2 --clip "$work/clip.$FORMAT" --work-dir "$work" --pause-ms 6000 \
  --bound-us 20000 >"$work/run.log" 2>&1 &
run_pid=$!
player_windows_place 60 10 "${NAMES[@]}" || fail "the players' windows did not appear"

run_said 'session step=start met=1' 60 || fail "the programme did not start"
sleep 0.5
import -window root "$work/playing.png"
playing=()
for name in "${NAMES[@]}"; do playing+=("$(player_frame_shown "$work/playing.png" "$name")"); done

run_said 'session step=pause met=1' 60 || fail "the session did not pause"
held=()
for i in "${!NAMES[@]}"; do
  held+=("$(held_frame "$(log_of "$i")")") || fail "${NAMES[i]} logged no held frame"
done
import -window root "$work/paused.png"
# Logs written out once more: nothing shown since, so the grab came within the pause.
sleep 1.5
for i in "${!NAMES[@]}"; do
  [ "$(last_logged "$(log_of "$i")")" = "${held[i]}" ] || fail "${NAMES[i]} went on from its pause before the grab"
done
paused=()
status=0
for i in "${!NAMES[@]}"; do
  shown=$(player_frame_shown "$work/paused.png" "${NAMES[i]}")
  logged=$(frame_numbers <<<"${held[i]}")
  echo "paused: ${NAMES[i]} shows frame $shown, its log ends on frame $logged"
  [ "$shown" = "$logged" ] || status=1
  paused+=("$shown")
done
[ "$status" -eq 0 ] || fail "a window does not show the frame its player held"
if [ "${paused[0]}" != "${paused[1]}" ] || [ "${paused[0]}" != "${paused[2]}" ]; then
  fail "the windows hold different frames"
fi

wait "$run_pid" || fail "the run failed"
run_pid=""
for i in "${!NAMES[@]}"; do
  echo "playing: ${NAMES[i]} showed frame ${playing[i]}"
  [ "${playing[i]}" != none ] || fail "no frame number in the window of ${NAMES[i]}"
  frame_numbers <"$(log_of "$i")" | grep -q -x -- "${playing[i]}" ||
    fail "${NAMES[i]} showed frame ${playing[i]}, which it did not log"
  apart=$((playing[i] - playing[0]))
  if [ "${apart#-}" -gt "$PLAYING_TOLERANCE" ]; then
    fail "${NAMES[i]} showed frame ${playing[i]} while the master showed frame ${playing[0]}"
  fi
done
echo "PASS: windows ($FORMAT)"
