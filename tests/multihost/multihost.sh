#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A session of real multinet-demo processes on separate hosts of a test network made of namespaces: a
# master and four slaves on four hosts, two of the slaves players on one host. Every command reaches every
# slave in order, and readiness and clock offsets are found. Heartbeats that keep a roster on line,
# a slave killed, a link pulled and a master restarted are played with the player (resilience.sh,
# playback.sh) on the same network, and against the library alone by tst_roster, tst_recovery and
# tst_slowhost (the master lost); other groups and other masters on the wire by tst_malformed.
# usage: multihost.sh PATH_TO_MULTINET_DEMO        Exit status 77: skipped.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

readonly TB_DEMO=$1
readonly PORT=45000
readonly GROUP=7
readonly OFFSET_TOLERANCE_US=1000  # samples with 0.8 ms of delay or more are thrown away
declare -A OFFSET_US

# start_slave NAME HOST LAYERS CLOCK_OFFSET_US
start_slave() {
  tb_start "$1" "$2" slave --ip "$(tb_ip "$2")" --port "$PORT" --group "$GROUP" --master "$(tb_ip 1)" --layers "$3" \
    --clock-offset-us "$4"
  OFFSET_US[$1]=$4
}

# send_command LINE: a command that the master must hand to its library with success.
send_command() {
  local answer
  answer=$(tb_ask m "$1" '^\[demo\] sent ')
  [ "$(tb_field "$answer" result)" = 1 ] || tb_fail "the master refused '$1': $answer"
}

tb_require_namespaces
trap tb_cleanup EXIT
tb_make_network 4
start_slave s1 2 0,1 4000
start_slave s2 3 0 -3000
start_slave s3 4 0 6000
start_slave s4 4 1 -5000
tb_start m 1 master --ip "$(tb_ip 1)" --port "$PORT" --group "$GROUP" \
  --slaves "$(slave_key s1),$(slave_key s2),$(slave_key s3),$(slave_key s4)"
send_command find
tb_master_wait m "roster 5" 5
send_command prepare
tb_master_wait m prepared 5
send_command clocksync
tb_master_wait m clocksync 10

# Each slave's last clock offset lies within the tolerance of the one injected (the master's is 0).
for name in s1 s2 s3 s4; do
  tb_wait_for "$name" '^\[demo\] clock-offset ' 10 10 || tb_fail "$name was told fewer than 10 clock offsets"
  us=$(tb_field "$(grep -a '^\[demo\] clock-offset ' "${TB_LOG[$name]}" | tail -n1)" us)
  error=$((us - OFFSET_US[$name]))
  echo "$name: clock offset injected ${OFFSET_US[$name]} us, found $us us (error $error us)"
  [ "${error#-}" -lt "$OFFSET_TOLERANCE_US" ] || tb_fail "$name: clock offset $us us is not within $OFFSET_TOLERANCE_US us of ${OFFSET_US[$name]} us"
done

for line in "start 1.5 1" "seek 30000 1 2.5" "speed 2" "pause 4.5" "step" "stepback" "stop 6.5"; do
  send_command "$line"
done
expected="prepare/cmd1 start/cmd2 seek/cmd3 speed/cmd4 pause/cmd5 step/cmd6 stepback/cmd7 stop/cmd8"
for name in s1 s2 s3 s4; do
  tb_wait_for "$name" '^\[demo\] received ' 8 5 || true
  got=$(grep -a '^\[demo\] received ' "${TB_LOG[$name]}" | sed 's|.* command=\([^ ]*\).* user-data=\([^ ]*\).*|\1/\2|' | xargs)
  [ "$got" = "$expected" ] || tb_fail "$name received '$got', not '$expected'"
done
tb_master_wait m complete 5
tb_quit s1 s2 s3 s4 m
echo "PASS: session"
