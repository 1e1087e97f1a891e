#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Multi-host tests: real multinet-demo processes on separate hosts of a test network made of namespaces.
# usage: multihost.sh SCENARIO PATH_TO_MULTINET_DEMO
# Scenarios: session, slave-killed, master-killed, link-outage, foreign-traffic. Exit status 77: skipped.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

readonly SCENARIO=$1
readonly TB_DEMO=$2
readonly PORT=45000
readonly GROUP=7
readonly OFFSET_TOLERANCE_US=1000  # samples with 0.8 ms of delay or more are thrown away
declare -A OFFSET_US

# start_slave NAME HOST LAYERS CLOCK_OFFSET_US [GROUP] [MASTER_HOST]
start_slave() {
  tb_start "$1" "$2" slave --ip "$(tb_ip "$2")" --port "$PORT" --group "${5:-$GROUP}" \
    --master "$(tb_ip "${6:-1}")" --layers "$3" --clock-offset-us "$4"
  OFFSET_US[$1]=$4
}

slave_key() {
  tb_field "$(grep -a -m1 '^\[demo\] ready ' "${TB_LOG[$1]}")" key
}

# start_master NAME HOST GROUP SLAVE...: admits the named slaves.
start_master() {
  local name=$1 host=$2 group=$3 keys="" slave
  shift 3
  for slave; do keys+="${keys:+,}$(slave_key "$slave")"; done
  tb_start "$name" "$host" master --ip "$(tb_ip "$host")" --port "$PORT" --group "$group" --slaves "$keys"
}

# send_command MASTER LINE: a command that the master must hand to its library with success.
send_command() {
  local answer
  answer=$(tb_ask "$1" "$2" '^\[demo\] sent ' 5)
  [ "$(tb_field "$answer" result)" = 1 ] || tb_fail "$1 refused '$2': $answer"
}

# Discovery of `entries` roster entries, prepare, and clock synchronisation, each waited for.
bring_up() {
  local master=$1 entries=$2
  send_command "$master" find
  tb_master_wait "$master" "roster $entries" 5
  send_command "$master" prepare
  tb_master_wait "$master" prepared 5
  send_command "$master" clocksync
  tb_master_wait "$master" clocksync 10
}

received() {
  tb_count "$1" '^\[demo\] received '
}

# Waits until each named process has printed `count` received commands.
expect_received() {
  local count=$1 name
  shift
  for name; do
    tb_wait_for "$name" '^\[demo\] received ' "$count" 5 || tb_fail "$name received $(received "$name") of $count commands"
  done
}

# The master's status; prints its roster lines and its closing status line.
master_status() {
  local before
  before=$(tb_count "$1" '^\[demo\] status ')
  tb_ask "$1" status '^\[demo\] status ' 5 >/dev/null
  awk -v n=$((before + 1)) '/^\[demo\] status /{seen++} seen==n-1 && /^\[demo\] roster /{print} /^\[demo\] status /&&seen==n{print}' "${TB_LOG[$1]}"
}

# The named slaves' last clock offset lies within the tolerance of the one injected (the master's is 0).
expect_offsets_found() {
  local name line us
  for name; do
    tb_wait_for "$name" '^\[demo\] clock-offset ' 10 10 || tb_fail "$name was told fewer than 10 clock offsets"
    line=$(grep -a '^\[demo\] clock-offset ' "${TB_LOG[$name]}" | tail -n1)
    us=$(tb_field "$line" us)
    local error=$((us - OFFSET_US[$name]))
    echo "$name: clock offset injected ${OFFSET_US[$name]} us, found $us us (error $error us)"
    [ "${error#-}" -lt "$OFFSET_TOLERANCE_US" ] || tb_fail "$name: clock offset $us us is not within $OFFSET_TOLERANCE_US us of ${OFFSET_US[$name]} us"
  done
}

# A master and four slaves on four hosts, two of the slaves players on one host: every command reaches
# every slave with its values, readiness and clock offsets are found, heartbeats keep everyone on line.
scenario_session() {
  tb_make_network 4
  start_slave s1 2 0,1 4000
  start_slave s2 3 0 -3000
  start_slave s3 4 0 6000
  start_slave s4 4 1 -5000
  start_master m 1 "$GROUP" s1 s2 s3 s4
  bring_up m 5
  expect_offsets_found s1 s2 s3 s4

  local line
  for line in "start 1.5 1" "seek 30000 1 2.5" "speed 2" "pause 4.5" "step" "stepback" "stop 6.5"; do
    send_command m "$line"
  done
  expect_received 8 s1 s2 s3 s4
  local name expected="prepare start seek speed pause step stepback stop"
  for name in s1 s2 s3 s4; do
    local got
    got=$(grep -a '^\[demo\] received ' "${TB_LOG[$name]}" | sed 's/.* command=\([^ ]*\).*/\1/' | xargs)
    [ "$got" = "$expected" ] || tb_fail "$name received '$got', not '$expected'"
    local tags
    tags=$(grep -a '^\[demo\] received ' "${TB_LOG[$name]}" | sed 's/.* user-data=\([^ ]*\).*/\1/' | xargs)
    [ "$tags" = "cmd1 cmd2 cmd3 cmd4 cmd5 cmd6 cmd7 cmd8" ] || tb_fail "$name got user data '$tags'"
    grep -a -q '^\[demo\] received command=seek position=30000 flag=1 value=2.500 layer=-1 ' "${TB_LOG[$name]}" ||
      tb_fail "$name did not get the seek's values"
    grep -a -q '^\[demo\] received command=start first=1.500 second=1.000 layer=-1 ' "${TB_LOG[$name]}" ||
      tb_fail "$name did not get the start's values"
  done
  tb_master_wait m complete 5

  # Heartbeats come every 2 s; the first left with the clock synchronisation.
  local status
  status=$(master_status m)
  echo "$status"
  [ "$(grep -a -c '^\[demo\] roster .* online=1' <<<"$status")" -eq 5 ] || tb_fail "not every roster entry is on line"
  grep -a -q "all-clock-synced=1" <<<"$status" || tb_fail "not every slave is clock-synchronised"
  [ "$(grep -a -c "^\[demo\] roster ip=$(tb_ip 4) " <<<"$status")" -eq 2 ] || tb_fail "the two players of host 4 are not two entries"
  local ago
  for ago in $(sed -n 's/.* last-seen-ms-ago=\([^ ]*\).*/\1/p' <<<"$status"); do
    [ "$ago" -ge 0 ] && [ "$ago" -lt 4500 ] || tb_fail "a heartbeat is $ago ms old"
  done
  for name in s1 s2 s3 s4 m; do tb_quit "$name"; done
}

# A slave killed with SIGKILL counts as off line in isAllSlaveComplete within 5 s of its last heartbeat,
# so the others' complete reports are enough.
scenario_slave_killed() {
  tb_make_network 4
  start_slave s1 2 0 2000
  start_slave s2 3 0 -2000
  start_slave s3 4 0 3000
  start_master m 1 "$GROUP" s1 s2 s3
  bring_up m 3
  send_command m "start 0 1"
  expect_received 2 s1 s2 s3

  local port
  port=$(master_status m | grep -a "ip=$(tb_ip 3) " | sed 's/.* port=\([0-9]*\).*/\1/')
  tb_kill s2 KILL
  send_command m "stop 0"
  expect_received 3 s1 s3
  # The last heartbeat may be 2 s old at the kill; 5 s after it the slave is off line.
  tb_master_wait m complete 8
  grep -a -q "isAllSlaveComplete slave(ip:port_proc = $(tb_ip 3):${port}_" "${TB_LOG[m]}" ||
    tb_fail "isAllSlaveComplete did not show the killed slave off line"
  local status
  status=$(master_status m)
  grep -a -q "^\[demo\] roster ip=$(tb_ip 3) .* online=0" <<<"$status" || tb_fail "the killed slave is not off line"
  [ "$(grep -a -c 'online=1' <<<"$status")" -eq 2 ] || tb_fail "the other slaves are not on line"
  for name in s1 s3 m; do tb_quit "$name"; done
}

# The master killed: once the slaves' clocks have moved on by a minute, each reports its master lost, once.
scenario_master_killed() {
  tb_make_network 3
  start_slave s1 2 0 1000
  start_slave s2 3 0 -1000
  start_master m 1 "$GROUP" s1 s2
  bring_up m 2
  sleep 2.5  # at least one heartbeat check while the master answers
  [ "$(tb_count s1 '^\[demo\] master-lost')" -eq 0 ] || tb_fail "s1 reported its master lost while it answered"

  tb_kill m KILL
  local name
  for name in s1 s2; do tb_send "$name" "advance-clock 60000000"; done
  for name in s1 s2; do
    tb_wait_for "$name" '^\[demo\] master-lost' 1 6 || tb_fail "$name did not report its master lost"
  done
  sleep 2.5  # the next check
  for name in s1 s2; do
    [ "$(tb_count "$name" '^\[demo\] master-lost')" -eq 1 ] || tb_fail "$name reported its master lost more than once"
    tb_quit "$name"
  done
}

# A slave's link taken down and up again: what is sent meanwhile is lost to it alone, what follows
# reaches it, and its heartbeats bring it back on line.
scenario_link_outage() {
  tb_make_network 3
  start_slave s1 2 0 1500
  start_slave s2 3 0 -1500
  start_master m 1 "$GROUP" s1 s2
  bring_up m 2
  send_command m "start 0 1"
  expect_received 2 s1 s2

  tb_link 3 down
  send_command m "pause 0"
  expect_received 3 s1
  sleep 0.5
  [ "$(received s2)" -eq 2 ] || tb_fail "s2 got the pause through a link that was down"
  tb_link 3 up
  sleep 0.3
  send_command m step
  expect_received 4 s1
  expect_received 3 s2
  grep -a '^\[demo\] received ' "${TB_LOG[s2]}" | tail -n1 | grep -a -q 'command=step ' || tb_fail "s2 did not get the step"

  # One heartbeat at most was lost: the next refreshes the entry (gaps under 4.5 s do).
  sleep 2.5
  local status
  status=$(master_status m)
  echo "$status"
  [ "$(grep -a -c 'online=1' <<<"$status")" -eq 2 ] || tb_fail "s2 did not come back on line"
  send_command m "stop 0"
  tb_master_wait m complete 5
  for name in s1 s2 m; do tb_quit "$name"; done
}

# Another group on the same LAN, and a second master of our group on another IP, change nothing for us.
scenario_foreign_traffic() {
  tb_make_network 6
  start_slave s1 2 0 2500
  start_slave s2 3 0 -2500
  start_master m 1 "$GROUP" s1 s2
  bring_up m 2

  # Group 9 on hosts 4 (master) and 5 (slave); a second master of group 7 on host 6 that admits our slaves.
  local foreign=9
  start_slave fs 5 0 0 "$foreign" 4
  start_master fm 4 "$foreign" fs
  start_master rogue 6 "$GROUP" s1 s2
  bring_up fm 1
  local line
  for line in "start 0 1" "pause 0"; do
    send_command fm "$line"
    send_command rogue "$line"
  done
  send_command rogue find
  send_command rogue prepare
  expect_received 3 fs
  sleep 0.5

  local name
  for name in s1 s2; do
    [ "$(received "$name")" -eq 1 ] || tb_fail "$name took a command of another master"
    grep -a -q "receive other master's(ip:$(tb_ip 6)) cmd!" "${TB_LOG[$name]}" || tb_fail "$name never saw the second master's commands"
  done
  grep -a -q '^\[demo\] status entries=0 ' <<<"$(master_status rogue)" || tb_fail "the second master found slaves"

  send_command m find
  tb_master_wait m "roster 2" 5
  send_command m "start 0 1"
  expect_received 2 s1 s2
  local status
  status=$(master_status m)
  echo "$status"
  # Freshly found: nothing reported yet (complete is left out: a slave without a heartbeat yet counts as off line).
  grep -a -q '^\[demo\] status entries=2 all-prepared=0 .*all-clock-synced=0' <<<"$status" ||
    tb_fail "the roster is not the two slaves, freshly found"
  [ "$(grep -a -c -E "^\[demo\] roster ip=($(tb_ip 2)|$(tb_ip 3)) " <<<"$status")" -eq 2 ] || tb_fail "a foreign slave is in the roster"
  [ "$(received fs)" -eq 3 ] || tb_fail "the foreign slave took our master's command"
  expect_offsets_found s1 s2
  for name in s1 s2 m fs fm rogue; do tb_quit "$name"; done
}

tb_require_namespaces
trap tb_cleanup EXIT
case "$SCENARIO" in
  session) scenario_session ;;
  slave-killed) scenario_slave_killed ;;
  master-killed) scenario_master_killed ;;
  link-outage) scenario_link_outage ;;
  foreign-traffic) scenario_foreign_traffic ;;
  *) echo "unknown scenario '$SCENARIO'"; exit 2 ;;
esac
echo "PASS: $SCENARIO"
