#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The codecs people have, in MP4, played in step on loopback by a master and two slaves.
# - h264, h265: they loop a 3 s clip for 10 s; the run must pass (every wait met, each clock offset
#   found, the skew p99 within a loose bound), each player name a decoder, and the loop must be seamless: every player shows each
#   play that it shows whole frame by frame, every frame once, and the first frame of each new play
#   comes at its instant, within a frame.
# - missing: the slave has no H.264 decoder (each one ranked NONE for it alone). It must say so in one
#   line that names the codec and the Debian package that brings a decoder, and the master must name it
#   as not prepared and end its session with a failure, rather than wait on.
# usage: codecs.sh PATH_TO_MULTINET_PLAYER h264|h265|missing        Exit status 77: skipped.
set -euo pipefail
readonly PLAYER=$1
readonly CASE=$2

work=$(mktemp -d /tmp/multinet-codecs-XXXX)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  tail -n 30 "$work/run.log"
  exit 1
}
skip() { echo "SKIP: $*"; exit 77; }

command -v gst-inspect-1.0 >/dev/null || skip "gst-inspect-1.0 is missing (gstreamer1.0-tools)"
codec=$([ "$CASE" = h265 ] && echo h265 || echo h264)
"$PLAYER" make-clip "$work/clip.mp4" --codec "$codec" --seconds 3 >"$work/make.log" 2>&1 || skip "$(cat "$work/make.log")"
# The decoders GStreamer has here for the codec: the elements whose class says so, of those that declare
# they take it.
decoders=$(gst-inspect-1.0 --print-plugin-auto-install-info 2>/dev/null |
  awk -v caps="decoder-video/x-$codec" '/^element-/ { e = substr($0, 9) } index($0, caps) == 1 { print e }' | sort -u |
  while read -r name; do
    klass=$(gst-inspect-1.0 "$name" 2>/dev/null | grep -E '^ *Klass' || true)
    [[ $klass != *Decoder* ]] || echo "$name"
  done | paste -s -d, -)
[ -n "$decoders" ] || skip "no $codec decoder here (gstreamer1.0-libav)"
echo "$codec decoders here: $decoders"

if [ "$CASE" != missing ]; then
  "$PLAYER" run --slaves 2 --clip "$work/clip.mp4" --loop --for 10 --bound-us 5000 --work-dir "$work" --verbose >"$work/run.log" 2>&1 ||
    fail "the run failed"
  grep -a -E 'decoder name|skew p50|loop points' "$work/run.log"
  # Every player names the decoder, not the parser before it.
  named=$(sed -n 's/.*\[demo\] decoder name=\([^ ]*\) .*/\1/p' "$work/run.log" | sort -u)
  [[ -n $named && ",$decoders," == *",$named,"* ]] || fail "the players named $named, not one of the decoders"
  read -r points late frame <<<"$(sed -n \
    's/^At \([0-9]*\) loop points the latest first frame of a new play came \(-*[0-9]*\) us .*one frame: \([0-9]*\) us.*/\1 \2 \3/p' "$work/run.log")"
  [ "${points:-0}" -ge 2 ] || fail "the clip did not loop"
  [ "${late#-}" -lt "$frame" ] || fail "a loop point was $late us off its instant"
  # Frame logs: "<kind> <key> <mono-ns>", key = play * 10^13 + time stamp; 'r' for a frame rendered. The
  # plays between the first and the last were shown whole: the clip's 90 frames, each once.
  for log in "$work"/library-*.frames; do
    awk '$1 == "r" { play = int($2 / 1e13); if (seen[$2]++) bad = 1; count[play]++; if (play > last) last = play }
      END { for (play = 1; play < last; ++play) if (count[play] != 90) bad = 1; exit bad }' "$log" ||
      fail "$(basename "$log") lost or repeated a frame at a loop point"
  done
  echo "PASS: $codec in MP4 loops in step and seamlessly"
  exit 0
fi

# The master's 20 s wait for the prepare, and the time around it.
status=0
timeout 90 "$PLAYER" run --slaves 1 --clip "$work/clip.mp4" --verbose --slave-prefix "env GST_PLUGIN_FEATURE_RANK=${decoders//,/:NONE,}:NONE" \
  >"$work/run.log" 2>&1 || status=$?
[ "$status" -ne 124 ] || fail "the run hung"
[ "$status" -ne 0 ] || fail "the run passed without a decoder on the slave"
said=$(grep -a -E '^slave .*\[demo\] (prepared|error) ' "$work/run.log")
echo "$said"
[ "$(wc -l <<<"$said")" -eq 1 ] || fail "the slave said more than one line about its prepare"
grep -q -E 'prepared .*ok=0 .*H\.264.*gstreamer1\.0-libav' <<<"$said" || fail "the slave's line names no codec or package"
grep -a -q -E '\[demo\] session step=prepare met=0 .*missing=127\.0\.0\.2_' "$work/run.log" || fail "the master did not name the slave as not prepared"
grep -a -q -F '[demo] finished ok=0' "$work/run.log" || fail "the master did not end its session"
echo "PASS: a slave without the decoder says which, and the session ends"
