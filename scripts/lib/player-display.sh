# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The reference player's windows on a virtual display of their own, for scripts/player-picture and the
# window tests (tests/player/windows.sh, with-display.sh): start and stop the display, place the players'
# windows side by side, and read the frame number that a test clip carries in blocks along its bottom
# edge (player/FrameCode.h) off a grab of the screen.
# Source it; it needs Xvfb, xdpyinfo, xdotool and ImageMagick (PICTURE_PACKAGES in ensure-packages.sh).

PLAYER_DISPLAY_PID=""
# The code's layout, as player/FrameCode.h paints it.
readonly PLAYER_CODE_BITS=16

# Starts Xvfb with one screen of SIZE (WxH) on a free display number, reachable only through its local
# socket, and exports DISPLAY.
player_display_start() {
  local n pid
  for n in $(seq 71 99); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
    Xvfb ":$n" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
    pid=$!
    # Another server may take the number first (tests run in parallel): the lock file names the winner.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" = "$pid" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
        PLAYER_DISPLAY_PID=$pid
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "no virtual X display could be started"
  return 1
}

player_display_stop() {
  [ -n "$PLAYER_DISPLAY_PID" ] || return 0
  kill "$PLAYER_DISPLAY_PID" 2>/dev/null || true
  wait "$PLAYER_DISPLAY_PID" 2>/dev/null || true
  PLAYER_DISPLAY_PID=""
}

# The window whose title is exactly NAME (the player's label), or nothing.
player_window() {
  xdotool search --name "^$1\$" 2>/dev/null | head -n1 || true
}

# Waits up to SECONDS for the windows titled NAME..., and places them side by side at height Y, 330
# pixels apart, in that order. Fails when one did not appear.
player_windows_place() {
  local seconds=$1 y=$2 placed x name window
  shift 2
  for _ in $(seq $((seconds * 10))); do
    placed=0
    x=0
    for name in "$@"; do
      window=$(player_window "$name")
      if [ -n "$window" ]; then
        xdotool windowmove "$window" "$x" "$y"
        placed=$((placed + 1))
      fi
      x=$((x + 330))
    done
    [ "$placed" -eq "$#" ] && return 0
    sleep 0.1
  done
  return 1
}

# The frame number that the window titled NAME shows in the grab of the whole screen PNG, or "none" when
# no code is there: each bit's block must stand out clearly against its inverted twin below it.
player_frame_shown() {
  local X Y WIDTH HEIGHT window
  window=$(player_window "$2")
  [ -n "$window" ] || { echo "none"; return 0; }
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  local side=$((WIDTH / PLAYER_CODE_BITS / 2 * 2))
  local top=$(((HEIGHT - 2 * side) / 2 * 2))
  convert "$1" -crop "$((PLAYER_CODE_BITS * side))x$((2 * side))+$X+$((Y + top))" +repage -colorspace Gray \
    -scale "${PLAYER_CODE_BITS}x2!" -depth 8 -compress none pgm:- |
    awk -v bits="$PLAYER_CODE_BITS" '
      NR > 3 { for (i = 1; i <= NF; ++i) grey[n++] = $i }
      END {
        if (n != 2 * bits) { print "none"; exit }
        for (b = 0; b < bits; ++b) {
          d = grey[b] - grey[b + bits]
          if (d > -128 && d < 128) { print "none"; exit }
          number = number * 2 + (d > 0)
        }
        print number
      }'
}
