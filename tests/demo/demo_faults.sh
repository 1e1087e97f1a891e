#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# multinet-demo where things go wrong: players must not outlive a killed `run`, a port that another
# program holds must be named with the system's reason, and a master script whose wait fails must fail.
# Loopback only.
# usage: demo_faults.sh SCENARIO PATH_TO_MULTINET_DEMO
# Scenarios: orphans-kill, orphans-term, port-taken, wait-fails.
set -euo pipefail

readonly SCENARIO=$1
readonly DEMO=$2
WORK=$(mktemp -d)
readonly WORK
HOLDER=""
trap '[ -n "$HOLDER" ] && kill "$HOLDER" 2>/dev/null; rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$WORK/out" ] && sed 's/^/  | /' "$WORK/out" >&2; exit 1; }

# A process that has ended: gone, or a zombie that nobody reaps.
ended() { [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }

# Runs COMMAND... every 0.1 s, at most TRIES times, until it succeeds; fails when it never does.
poll() {
  local tries=$1 i
  shift
  for i in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

# A UDP port on 127.0.0.1 that the kernel hands out, bound without address sharing as an unrelated
# program would; held for SECONDS, printed at once. Run it in a subshell: it ends in perl.
udp_port() {
  exec perl -MIO::Socket::INET -e '
    my $s = IO::Socket::INET->new(Proto => "udp", LocalAddr => "127.0.0.1", LocalPort => 0) or die "bind: $!";
    $| = 1; print $s->sockport, "\n"; sleep $ARGV[0];' "$1" </dev/null
}

# Kills `run` with SIGNAL once its players are up, then waits for every player to end.
orphans() {
  local signal=$1 pids pid
  "$DEMO" run --slaves 2 >"$WORK/out" 2>&1 &
  local run=$!
  poll 300 grep -q 'start the processes' "$WORK/out" || fail "the players did not come up"
  pids=$(sed -n 's/.*start the processes.*master pid \([0-9]*\), slaves \(.*\)/\1 \2/p' "$WORK/out")
  [ -n "$pids" ] || fail "no pids in the line that starts the processes"
  kill "-$signal" "$run"
  wait "$run" 2>/dev/null || true
  # Without a tie to `run` they would live on until their master-lost time (about 50 s).
  for pid in $pids; do
    poll 100 ended "$pid" || { kill "$pid" 2>/dev/null; fail "player $pid outlived run killed with SIG$signal"; }
  done
  echo "every player ended with run (SIG$signal): $pids"
}

port_taken() {
  local port status=0
  udp_port 600 >"$WORK/port" &
  HOLDER=$!
  poll 50 test -s "$WORK/port" || fail "could not hold a port"
  port=$(cat "$WORK/port")
  "$DEMO" run --slaves 1 --port "$port" >"$WORK/out" 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "run succeeded on a port that another program holds"
  grep -a -q "^error: the master did not start: .*cannot listen: 127.0.0.1 port $port: .*in use" "$WORK/out" \
    || fail "run did not name the taken port and the reason"
  echo "run named the cause: $(grep -a -m1 '^error:' "$WORK/out")"
}

wait_fails() {
  local status=0
  printf 'find\nwait roster 1 300\nstatus\n' | "$DEMO" master --ip 127.0.0.1 --port "$(udp_port 0)" --group 7 \
    --slaves 127.0.0.9_1 >"$WORK/out" 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "a master script whose wait failed exited with status 0"
  grep -a -q '^\[demo\] waited what=roster met=0' "$WORK/out" || fail "the wait did not fail as expected"
  echo "the master script exited with status $status"
}

case $SCENARIO in
  orphans-kill) orphans KILL ;;
  orphans-term) orphans TERM ;;
  port-taken) port_taken ;;
  wait-fails) wait_fails ;;
  *) echo "unknown scenario $SCENARIO" >&2; exit 2 ;;
esac
