#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Full screen on an X display: a slave fills the one output of a virtual display of this test's own
# (Xvfb, 800x600, the output RandR calls "screen") while a headless master leads it through the session
# on loopback.
# - Its window is the output, in place and size, and override-redirect: no window manager decorates it.
# - Read from grabs of the screen by the blocks that code each frame (player/FrameCode.h, scaled with
#   the frame): while the session holds its pause the screen shows the frame the slave's log ends on,
#   and while it plays a frame the slave logged.
# - The slave's frames against the master's: in step within a loose bound (the headless tests judge the
#   skew; a full screen logs its frames as a window does).
# - The slave's health, as the master hears it, names the decoder it shows the frames through.
# Then on a display of two screens that Xinerama joins, --output 1 fills the second one, and an output
# that is not there ends the session with a line that names the ones there are.
# usage: fullscreen.sh PATH_TO_MULTINET_PLAYER        Exit status 77: skipped.
set -euo pipefail
readonly PLAYER=$1
source "$(dirname "$0")/shown-frames.sh"

readonly NAME="full screen"
readonly SIZE=800x600
readonly PORT=$((20000 + RANDOM % 20000))

# covers GEOMETRY: the full-screen window appears within 20 s, is exactly GEOMETRY (WxH+X+Y) and
# override-redirect.
covers() {
  local window shape
  for _ in $(seq 200); do
    window=$(player_window "$NAME")
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  shape="${WIDTH}x$HEIGHT+$X+$Y"
  echo "window: $shape, output: $1"
  [ "$shape" = "$1" ] && xwininfo -id "$window" | grep -q 'Override Redirect State: yes'
}

"$PLAYER" make-clip "$work/clip.avi" --seconds 3 >/dev/null
player_display_start "$SIZE"
# The slave plays on until its input ends; the master holds its pause for 6 s, time for the frame log to be
# written out (every second) and for the grab.
mkfifo "$work/slave.in"
"$PLAYER" slave --ip 127.0.0.2 --port "$PORT" --master 127.0.0.1 --fullscreen --output screen --label "$NAME" \
  --frame-log "$work/slave.frames" <"$work/slave.in" >"$work/slave.log" 2>&1 &
slave_pid=$!
pids+=("$slave_pid")
exec {slave_in}>"$work/slave.in"
said "$work/slave.log" '[demo] ready ' 20 "$slave_pid" || fail "the slave did not start"
key=$(sed -n 's/^\[demo\] ready .* key=\([^ ]*\).*/\1/p' "$work/slave.log")
mkfifo "$work/master.in"
"$PLAYER" master --ip 127.0.0.1 --port "$PORT" --slaves "$key" --media "$work/clip.avi" --headless --pause-ms 6000 \
  --frame-log "$work/master.frames" <"$work/master.in" >"$work/master.log" 2>&1 &
master_pid=$!
pids+=("$master_pid")
exec {master_in}>"$work/master.in"
covers "$SIZE+0+0" || fail "the window does not cover the output, or a window manager may decorate it"
grab_session "$work/master.log" "$master_pid" "$NAME=$work/slave.frames"
# A slave reports its health once a second; the pause is older than that.
echo health >&"$master_in"
said "$work/master.log" '[demo] health ' 5 "$master_pid" || fail "the master printed no health"
decoder=$(sed -n 's/^\[demo\] decoder name=\([^ ]*\) .*/\1/p' "$work/slave.log")
grep -a -q -F "text=full_screen_($decoder)" "$work/master.log" || fail "the slave's health does not name its decoder"
wait "$master_pid" || fail "the master's session failed"
echo quit >&"$slave_in"
wait "$slave_pid" || fail "the slave did not end cleanly"
shown_was_logged "$NAME" "${playing[0]}" "$work/slave.frames"
"$(dirname "$PLAYER")/multinet-lab" compare "$work/master.frames" "$work/slave.frames" --bound-us 20000 || fail "the slave was not in step with the master"

# Two screens joined by Xinerama, which RandR does not see: their heads are the outputs, by number.
player_display_stop
Xvfb -displayfd 3 +xinerama -screen 0 "${SIZE}x24" -screen 1 640x480x24 -nolisten tcp 3>"$work/xinerama.display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/xinerama.display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/xinerama.display")"
"$PLAYER" master --ip 127.0.0.1 --port "$PORT" --media "$work/clip.avi" --fullscreen --output 1 --label "$NAME" </dev/null >"$work/xinerama.log" 2>&1 &
pids+=($!)
covers "640x480+0+0" || fail "no full-screen window that covers the second head"
"$PLAYER" master --ip 127.0.0.1 --port "$PORT" --media "$work/clip.avi" --fullscreen --output 2 </dev/null >"$work/nowhere.log" 2>&1 &&
  fail "a master played on an output that is not there"
grep -a -q -F 'no_output_2_(it_has_0_800x600+0+0,_1_640x480+0+0)' "$work/nowhere.log" || fail "no line names the missing output and those there are"
echo "PASS: full screen"
