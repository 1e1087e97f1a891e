#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The master's "next" and "seek" act on the play the programme is in, also after items ended on their own
# since the last command: a master loops a playlist of two 2 s items; once an item has ended by itself,
# "next" must go to the play after the one it shows, and once the next item has begun by itself, "seek"
# must land in that item, not in the play of the last command.
# usage: programme-moves.sh PATH_TO_MULTINET_PLAYER
set -euo pipefail
PLAYER=$1
work=$(mktemp -d)
pid=
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; tail -n 20 "$work/master.log"; exit 1; }

"$PLAYER" make-clip "$work/a.avi" --seconds 2 >/dev/null
printf '%s\n%s\n' "$work/a.avi" "$work/a.avi" >"$work/show.txt"
mkfifo "$work/in"
port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$PLAYER" master --ip 127.0.0.1 --port "$port" --headless --no-audio --playlist "$work/show.txt" --loop \
  --frame-log "$work/master.frames" <"$work/in" >"$work/master.log" 2>&1 &
pid=$!
exec 3>"$work/in"

# rendered_play_from PLAY MIN_SECONDS: waits up to 15 s until the frame log holds a frame of play PLAY or
# later at MIN_SECONDS into its item or later.
rendered_play_from() {
  for _ in $(seq 150); do
    awk -v p="$1" -v s="$2" '$1 == "r" && int($2 / 1e13) >= p && ($2 % 1e13) >= s * 1e9 { found = 1 } END { exit !found }' \
      "$work/master.frames" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no frame of play $1 at $2 s or later"
}
# play_before MONO_US: the play of the last frame shown before that time.
play_before() { awk -v t="$1" '$1 == "r" && $3 < t * 1000 { p = int($2 / 1e13) } END { print p }' "$work/master.frames"; }
# move N COMMAND: sends COMMAND and prints the N-th seek the master sent (a next is one too) as "play
# shown", the play it went to and the play of the last frame shown before it.
move() {
  echo "$2" >&3
  for _ in $(seq 50); do
    line=$(grep -a '^\[demo\] sent command=seek ' "$work/master.log" | sed -n "$1p")
    [ -n "$line" ] && break
    sleep 0.1
  done
  [ -n "$line" ] || fail "the master sent no seek number $1"
  sleep 1.5  # frame logs are written once a second
  echo "$(sed -E 's/.* play=([0-9]+) .*/\1/' <<<"$line") $(play_before "$(sed -E 's/.* mono-us=([0-9]+).*/\1/' <<<"$line")")"
}

rendered_play_from 1 0.6  # the first item ended by itself
read -r next_play shown <<<"$(move 1 next)"
[ "$next_play" -eq $((shown + 1)) ] || fail "next went to play $next_play while play $shown was shown"
rendered_play_from $((next_play + 1)) 0.3  # that item ended by itself too
read -r seek_play shown <<<"$(move 2 "seek 0.5")"
[ "$seek_play" -eq "$shown" ] || fail "seek landed in play $seek_play while play $shown was shown"
echo quit >&3
wait "$pid" || fail "the master did not end well"
pid=
echo "next went from play $((next_play - 1)) to $next_play, seek stayed in play $seek_play"
