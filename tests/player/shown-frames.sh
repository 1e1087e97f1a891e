# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the screen tests (windows.sh, fullscreen.sh) share: their work directory and the players they
# started, the lines a player prints, and the frames its frame log holds ("<kind> <key> <mono-ns>", key =
# play * 10^13 + time stamp) against the frames grabs of the screen show. Source it.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/player-display.sh"

# The clip's frame rate (make-clip's default): a frame's number from its time stamp.
readonly SHOWN_FPS=30

for tool in Xvfb xdpyinfo xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (PICTURE_PACKAGES in scripts/lib/ensure-packages.sh)"; exit 77; }
done
work=$(mktemp -d /tmp/multinet-screen-XXXX)
pids=()  # the processes to end with the test
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  player_display_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  # What went wrong first, which the last lines (a run's summary) seldom say.
  grep -a -i -m 20 -E 'error|cannot|could not|failed|missing' "$work"/*.log || true
  tail -n 20 "$work"/*.log
  exit 1
}

# said FILE TEXT SECONDS PID: waits up to SECONDS for a line with TEXT in FILE, while process PID runs.
said() {
  for _ in $(seq $(($3 * 20))); do
    grep -a -q -F -- "$2" "$1" && return 0
    kill -0 "$4" 2>/dev/null || break
    sleep 0.05
  done
  grep -a -q -F -- "$2" "$1"
}

last_logged() { tail -n 1 "$1" 2>/dev/null || true; }

# The frame numbers of frame log lines.
frame_numbers() { awk -v fps="$SHOWN_FPS" '{ printf "%d\n", ($2 % 1e13) * fps / 1e9 + 0.5 }'; }

# held_frame LOG: waits up to 10 s for LOG to end on a held frame ('h'), which a player logs as it shows
# it, and prints that line; fails when it does not.
held_frame() {
  for _ in $(seq 200); do
    [[ $(last_logged "$1") == h\ * ]] && { last_logged "$1"; return 0; }
    sleep 0.05
  done
  return 1
}

# grab_session LOG PID NAME=FRAME_LOG...: for the session that process PID leads and prints to LOG, the
# frame each player's window shows in a grab once it plays (in `playing`), and in a grab while it holds its
# pause, which must be the frame the player's log ends on (in `paused`).
grab_session() {
  local log=$1 pid=$2 i shown logged
  shift 2
  local names=("${@%%=*}") logs=("${@#*=}") held=()
  said "$log" 'session step=start met=1' 60 "$pid" || fail "the programme did not start"
  sleep 0.5
  import -window root "$work/playing.png"
  playing=()
  for i in "${!names[@]}"; do playing+=("$(player_frame_shown "$work/playing.png" "${names[i]}")"); done
  said "$log" 'session step=pause met=1' 60 "$pid" || fail "the session did not pause"
  for i in "${!names[@]}"; do held+=("$(held_frame "${logs[i]}")") || fail "${names[i]} logged no held frame"; done
  import -window root "$work/paused.png"
  # The logs written out once more: nothing shown since, so the grab came within the pause.
  sleep 1.5
  paused=()
  for i in "${!names[@]}"; do
    [ "$(last_logged "${logs[i]}")" = "${held[i]}" ] || fail "${names[i]} went on from its pause before the grab"
    shown=$(player_frame_shown "$work/paused.png" "${names[i]}")
    logged=$(frame_numbers <<<"${held[i]}")
    echo "paused: ${names[i]} shows frame $shown, its log ends on frame $logged"
    [ "$shown" = "$logged" ] || fail "${names[i]} does not show the frame its player held"
    paused+=("$shown")
  done
}

# shown_was_logged NAME FRAME LOG: the frame a grab caught in NAME's window is one its player logged.
shown_was_logged() {
  echo "playing: $1 showed frame $2"
  frame_numbers <"$3" | grep -q -x -- "$2" || fail "$1 showed frame $2, which it did not log"
}
