#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The programme's sound, at a PulseAudio null sink of the test's own (a private server, run as whoever runs
# the test, on a socket in the test's directory; nothing else on the machine hears it).
# - session: a master and two slaves on loopback play a clip with sound through the whole session (start,
#   seek, pause, step, step back, speed, end); each says its sound is on, and the run's frame checks pass.
# - loop: the same clip looped for 8 s by a master and a slave; the run's checks pass, and the null sink's
#   recording has a tick every second across the loop points.
# - off: the frames play alone, with one line that says why, for --no-audio, for a clip without sound, and
#   on a PC without a sound output (no sound server, no ALSA device).
# usage: sound.sh PATH_TO_MULTINET_PLAYER session|loop|off        Exit status 77: skipped.
set -euo pipefail
readonly PLAYER=$1
readonly CASE=$2

work=$(mktemp -d /tmp/multinet-sound-XXXX)
server_pid=
recorder_pid=
trap 'kill $recorder_pid $server_pid 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  tail -n 30 "$work/run.log" 2>/dev/null || true
  exit 1
}
skip() { echo "SKIP: $*"; exit 77; }

command -v gst-inspect-1.0 >/dev/null || skip "gst-inspect-1.0 is missing (gstreamer1.0-tools)"
# The sanitizer builds load a fixed set of plugins (cmake/TamoSanitizerGStreamer.cmake), without any sound sink.
gst-inspect-1.0 pulsesink >/dev/null 2>&1 || skip "no pulsesink in this GStreamer (the sanitizer builds' plugin set leaves the sound sinks out)"

# A private PulseAudio with one null sink; PULSE_SERVER points every player of this test at it.
start_server() {
  command -v pulseaudio >/dev/null || skip "pulseaudio is missing (AUDIO_PACKAGES)"
  mkdir -p "$work/home"
  HOME=$work/home XDG_RUNTIME_DIR=$work/home pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --use-pid-file=no --load="module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
    --load="module-null-sink sink_name=null rate=48000" >"$work/pulse.log" 2>&1 &
  server_pid=$!
  export PULSE_SERVER=unix:$work/pulse.sock
  for _ in $(seq 50); do [ -S "$work/pulse.sock" ] && return 0; sleep 0.1; done
  fail "PulseAudio did not start: $(tail -n 3 "$work/pulse.log")"
}

# The ticks go on across the loop points (at 3 and 6 s): seven or more, and from the third on (in the first
# two seconds after a start the skew slaving still moves the sound by a few ms) within 5 ms of a grid of one
# a second, placed at their median. One tick may miss it, for the sound's thread runs at normal priority and
# a busy machine can make its output underrun; a sound that moves at a loop point misses it with every tick
# on one side of it.
ticks_go_on() {
  kill "$recorder_pid"
  wait "$recorder_pid" 2>/dev/null || true
  read -r -a onsets <<<"$(python3 "$(dirname "$0")/tick_onsets.py" "$work/heard.raw" 8000 1 | cut -d' ' -f2-)"
  echo "tick onsets (s): ${onsets[*]}"
  [ "${#onsets[@]}" -ge 7 ] || fail "${#onsets[@]} ticks heard in 8 s of a looped clip (the sound stopped?)"
  # Each tick's phase against the second it falls in, from the third on; the grid at their median.
  printf '%s\n' "${onsets[@]}" | awk 'NR >= 3 { print $1 - NR }' | sort -g |
    awk '{ phase[NR] = $1 } END { grid = phase[int((NR + 1) / 2)]; for (i = 1; i <= NR; i++) missed += phase[i] - grid > 0.005 || grid - phase[i] > 0.005
      exit missed > 1 }' || fail "the ticks were not one a second across the loop points"
}

"$PLAYER" make-clip "$work/sound.avi" --audio --seconds 3 >"$work/make.log" 2>&1 || fail "make-clip --audio: $(cat "$work/make.log")"

if [ "$CASE" = session ] || [ "$CASE" = loop ]; then
  start_server
  if [ "$CASE" = session ]; then
    args=(--slaves 2 --bound-us 2000)
  else
    args=(--slaves 1 --loop --for 8 --bound-us 5000)
  fi
  # What the null sink plays, as the ticks' onsets: mono at 8 kHz is plenty for a tick's onset to 125 us.
  if [ "$CASE" = loop ]; then
    parec -d null.monitor --raw --format=s16le --rate=8000 --channels=1 --latency-msec=20 >"$work/heard.raw" &
    recorder_pid=$!
  fi
  "$PLAYER" run "${args[@]}" --clip "$work/sound.avi" --verbose >"$work/run.log" 2>&1 || fail "the run failed"
  grep -a -E 'skew p50' "$work/run.log" || true
  on=$(grep -a -c -F '[demo] sound on=1 sink=' "$work/run.log" || true)
  [ "$on" -eq $(( ${args[1]} + 1 )) ] || fail "$on players said their sound was on at the null sink"
  ! grep -a -q -F '[demo] sound on=0' "$work/run.log" || fail "a player played without sound"
  if [ "$CASE" = loop ]; then ticks_go_on; fi
  echo "PASS: $CASE with sound at a null sink, every player in step"
  exit 0
fi

# One plain playback of 1.5 s by a lone master; it must play its frames and say why there is no sound.
play_alone() {
  local media=$1
  shift
  "$PLAYER" master --ip 127.0.0.1 --port 47391 --group 7 --headless --media "$media" --for 1.5 "$@" >"$work/run.log" 2>&1 ||
    fail "the master failed on $media $*"
  grep -a -q -E '\[demo\] frames count=[1-9]' "$work/run.log" || fail "no frames shown: $media $*"
  grep -a -F '[demo] sound ' "$work/run.log"
}
expect_off() {
  local why=$1
  shift
  said=$(play_alone "$@")
  [ "$(wc -l <<<"$said")" -eq 1 ] || fail "more than one sound line: $said"
  grep -q -E "^\[demo\] sound on=0 why=$why" <<<"$said" || fail "expected sound off ($why): $said"
}

"$PLAYER" make-clip "$work/silent.avi" --seconds 3 >"$work/make.log" 2>&1 || fail "make-clip: $(cat "$work/make.log")"
# No sound server and no ALSA device: PULSE_SERVER at a socket nobody serves, ALSA without a configuration.
: >"$work/empty-alsa.conf"
PULSE_SERVER=unix:$work/nobody.sock ALSA_CONFIG_PATH=$work/empty-alsa.conf expect_off 'no_audio_output:_alsasink' "$work/sound.avi"
start_server
expect_off turned_off "$work/sound.avi" --no-audio
expect_off the_item_has_no_sound "$work/silent.avi"
echo "PASS: without --no-audio's sound, a clip's sound or a sound output, the frames play and one line says why"
