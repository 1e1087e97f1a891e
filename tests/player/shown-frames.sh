# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the screen tests (windows.sh, fullscreen.sh) read of a player: the lines it prints, and the frames
# its frame log holds ("<kind> <key> <mono-ns>", key = play * 10^13 + time stamp). Source it.

# The clip's frame rate (make-clip's default): a frame's number from its time stamp.
readonly SHOWN_FPS=30

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
    [[ $(last_logged "$1") == h\ * ]] && break
    sleep 0.05
  done
  [[ $(last_logged "$1") == h\ * ]] || return 1
  last_logged "$1"
}
