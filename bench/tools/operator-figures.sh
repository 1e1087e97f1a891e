#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The operator's page's figures:
# - how long after an event the page shows it: tests/player/operator.sh with TRIES rounds (root, Chromium,
#   chromium-driver, python3-selenium), which times the page against the master's line that a slave went
#   off line, and against a click on pause and on play; p50 and p99 of each;
# - what open pages cost the master: a master with --operator and three slaves on loopback loop a clip,
#   first with no page open, then with PAGES event streams open (curl -N on /api/events: what an open page
#   holds), then with none again; the CPU time per second of the server's threads ("operator-http") and of
#   the whole master in each stretch of SECONDS.
# usage: bench/tools/operator-figures.sh PATH_TO_MULTINET_PLAYER [TRIES [PAGES [SECONDS]]]
set -euo pipefail
PLAYER=$(realpath "$1")
TRIES=${2:-3}
PAGES=${3:-10}
SECONDS_EACH=${4:-30}
here=$(dirname "$0")
work=$(mktemp -d)
declare -a pids=() streams=()
cleanup() {
  local pid
  for pid in "${streams[@]}" "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# percentiles NAME: p50 and p99 (nearest rank) of the numbers on standard input.
percentiles() {
  sort -n | awk -v name="$1" 'function rank(p,  r) { r = int(p * NR); return r < p * NR ? r + 1 : (r < 1 ? 1 : r) }
    { v[NR] = $1 } END {
    if (NR == 0) { print name ": no figures"; exit }
    p50 = v[rank(0.50)]; p99 = v[rank(0.99)]
    printf "%-44s p50 %5d ms, p99 %5d ms over %d\n", name, p50, p99, NR }'
}

if [ "$(id -u)" -eq 0 ] && [ "$TRIES" -gt 0 ]; then
  bash "$here/../../tests/player/operator.sh" "$PLAYER" "" "$TRIES" >"$work/latency.log" 2>&1 ||
    { tail -n 30 "$work/latency.log"; exit 1; }
  sed -n 's/^off line on the page \(-*[0-9]*\) ms after.*/\1/p' "$work/latency.log" | percentiles "off line: master's line to the page"
  sed -n 's/^pause on the page \([0-9]*\) ms after.*/\1/p' "$work/latency.log" | percentiles "pause: click to the page"
  sed -n 's/^play on the page \([0-9]*\) ms after.*/\1/p' "$work/latency.log" | percentiles "play: click to the page"
else
  echo "latency: left out (it needs root for the namespace test network, and TRIES > 0)"
fi

# start NAME ARGS...: a player on loopback whose standard input stays open; waits for its ready line.
start() {
  local name=$1 fd
  shift
  mkfifo "$work/$name.in"
  "$PLAYER" "$@" <"$work/$name.in" >"$work/$name.log" 2>&1 &
  pids+=($!)
  exec {fd}>"$work/$name.in"
  for _ in $(seq 100); do grep -a -q '^\[demo\] ready ' "$work/$name.log" && return; sleep 0.1; done
  echo "$name did not start"; exit 1
}

# cpu_ticks PID [THREAD_NAME]: the CPU time (utime + stime, in clock ticks) of the process, or of its
# threads of that name.
cpu_ticks() {
  local stat total=0
  for stat in /proc/"$1"/task/*/stat; do
    [ -z "${2:-}" ] || [ "$(cat "${stat%/stat}/comm")" = "$2" ] || continue
    total=$((total + $(sed 's/.*) //' "$stat" | awk '{ print $12 + $13 }')))
  done
  echo "$total"
}

# stretch WHAT: the CPU share of the server's threads and of the whole master over SECONDS_EACH.
stretch() {
  local server=$(cpu_ticks "$master" operator-http) all=$(cpu_ticks "$master")
  sleep "$SECONDS_EACH"
  local ticks=$(getconf CLK_TCK)
  awk -v what="$1" -v s="$(( $(cpu_ticks "$master" operator-http) - server ))" -v a="$(( $(cpu_ticks "$master") - all ))" \
      -v t="$ticks" -v d="$SECONDS_EACH" \
      'BEGIN { printf "%-26s server threads %.2f %% of a core (%d ticks), whole master %.2f %%\n", what, 100 * s / t / d, s, 100 * a / t / d }'
}

"$PLAYER" make-clip "$work/clip.avi" --seconds 6 >/dev/null
head -c 24 /dev/urandom | base64 >"$work/token"
chmod 600 "$work/token"
port=$((47000 + $$ % 1000))
keys=()
for n in 2 3 4; do
  start "s$n" slave --ip "127.0.0.$n" --port "$port" --master 127.0.0.1 --headless
  keys+=("$(sed -n 's/^\[demo\] ready .* key=\([^ ]*\).*/\1/p' "$work/s$n.log")")
done
start m master --ip 127.0.0.1 --port "$port" --slaves "$(IFS=,; echo "${keys[*]}")" --media "$work/clip.avi" --loop \
  --headless --operator 127.0.0.1:0 --operator-token-file "$work/token"
master=${pids[-1]}
for _ in $(seq 300); do grep -a -q '^\[demo\] session step=start ' "$work/m.log" && break; sleep 0.1; done
url=$(sed -n 's/^\[demo\] operator url=\([^ ]*\).*/\1/p' "$work/m.log")
sleep 3
stretch "no page open:"
for ((i = 0; i < PAGES; i++)); do
  curl -s -N "${url}api/events" >/dev/null &
  streams+=($!)
done
sleep 2
stretch "$PAGES pages open:"
for pid in "${streams[@]}"; do kill "$pid"; done
streams=()
sleep 2
stretch "no page open again:"
