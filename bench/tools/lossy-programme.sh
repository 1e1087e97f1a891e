#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One programme of the lossy benchmark (tamo_bench --scenario lossy runs it; root only): a multinet-player
# master and three slaves on separate hosts of a namespace test network (tests/multihost/testbed.sh) play
# a looping clip for SECONDS while each slave's link loses LOSS_PERCENT of the UDP datagrams at random,
# both ways. A third of the way in, the second slave is killed and started again 6 s later (a reboot) with
# a new process id.
#
# Prints one line of figures, "programme key=value ...":
#   commands, commands-applied   the master's commands, and those that every slave meant to get applied
#                                (the restarted slave is meant to get those from the master's prepare
#                                that brought it in)
#   not-applied                  slave:command for each command a slave did not apply (-: none)
#   restart-in-step-ms           from the restarted slave's ready line to its first frame in step for good
#                                (-1: never)
#   skew-p99-us                  per slave, the p99 skew against the master: the two that played throughout
#                                over the whole programme, the restarted one from when it was in step
#   seen, dropped                UDP datagrams on the slaves' links and those the loss took
#   originals, repeats, acks     on the links of the two slaves that play throughout: commands as first
#                                broadcast, their repeats to the slave, the slave's acknowledgements; each
#                                with its bytes (-bytes, whole IP datagrams), counted before the loss
# usage: lossy-programme.sh LOSS_PERCENT SECONDS PATH_TO_MULTINET_PLAYER        Exit status 77: skipped.
set -euo pipefail
here=$(dirname "$0")
source "$here/../../tests/multihost/testbed.sh"
source "$here/../../tests/multihost/players.sh"

readonly LOSS=$1
readonly SECONDS_PLAYED=$2
readonly TB_DEMO=$3
readonly PORT=45300
readonly GROUP=5
readonly BOUND_US=10000
TB_PREFIX="tmnc$$-lossy-"
# The magic at the start of every datagram of the library, and the command codes it acknowledges
# (301-305, 308-312) and the acknowledgement 207, as the little-endian bytes of the header's code field.
readonly MAGIC=0xcc55cc55
readonly COMMANDS="{ 0x2d01, 0x2e01, 0x2f01, 0x3001, 0x3101, 0x3401, 0x3501, 0x3601, 0x3701, 0x3801 }"
readonly ACK=0xcf00

# Counts on host HOST's link what acknowledged delivery adds; before the loss (a lower priority runs first).
count_traffic() {
  tb_nft "$1" <<EOF
table inet tb_count {
  counter originals {}
  counter repeats {}
  counter acks {}
  chain in {
    type filter hook input priority -10; policy accept;
    iifname "eth0" @th,64,32 $MAGIC @th,128,16 $COMMANDS ip daddr 255.255.255.255 counter name "originals"
    iifname "eth0" @th,64,32 $MAGIC @th,128,16 $COMMANDS ip daddr != 255.255.255.255 counter name "repeats"
  }
  chain out {
    type filter hook output priority -10; policy accept;
    oifname "eth0" @th,64,32 $MAGIC @th,128,16 $ACK counter name "acks"
  }
}
EOF
}

# counter_sum KIND packets|bytes: a named counter summed over the hosts of the slaves that play throughout
# (the restarted slave's host also sees the repeats to its killed process).
counter_sum() {
  local host total=0
  for host in 2 4; do
    total=$((total + $(ip netns exec "${TB_PREFIX}h$host" nft list counter inet tb_count "$1" |
      sed -n "s/.*packets \([0-9]*\) bytes \([0-9]*\).*/$([ "$2" = packets ] && echo '\1' || echo '\2')/p")))
  done
  echo "$total"
}

# loss_sum seen|dropped: the datagrams the loss rules saw, or dropped, over the slaves' hosts.
loss_sum() {
  local host total=0 field
  field=$([ "$1" = seen ] && echo 1 || echo 2)
  for host in 2 3 4; do
    while read -r packets; do total=$((total + packets)); done < <(
      ip netns exec "${TB_PREFIX}h$host" nft list table inet tb_loss 2>/dev/null |
        grep -o 'packets [0-9]*' | awk -v f="$field" 'NR % 2 == f % 2 { print $2 }')
  done
  echo "$total"
}

# skew_p99 LINE: the p99 of one line of `compare`.
skew_p99() {
  tb_field "$1" p99-us
}

tb_require_namespaces
tb_require_nft
trap tb_cleanup EXIT
tb_make_network 4
"$TB_DEMO" make-clip "$TB_DIR/clip.avi" --seconds 4 >/dev/null
for host in 2 3 4; do
  count_traffic "$host"
  [ "$LOSS" -eq 0 ] || tb_lose "$host" "numgen random mod 100 < $LOSS"
done

start_slave s1 2 25000
start_slave s2 3 -40000
start_slave s3 4 55000
start_master m "$(slave_key s1),$(slave_key s2),$(slave_key s3)" --media "$TB_DIR/clip.avi" --loop --for "$SECONDS_PLAYED"
tb_wait_for m '^\[demo\] session step=start ' 1 120 || tb_fail "the programme did not start"
sleep $((SECONDS_PLAYED / 3))
tb_kill s2 KILL
# A PC that reboots is away for longer than the 5 s of silence after which the master takes a new process
# of the same PC in: its player starts when the old one is already known to be gone.
sleep 6
start_slave s2b 3 -40000
tb_wait_for m '^\[demo\] finished ' 1 $((SECONDS_PLAYED + 120)) || tb_fail "the programme did not end"
sleep 3  # the last repeats
for name in s1 s2b s3; do tb_quit "$name"; done

# A command counts as applied when every slave meant to get it applied it: the restarted one is meant to
# get those from the prepare that brought it in (the last one) on.
joined=$(last_sent_cmd m prepare)
not_applied=()
for name in s1 s3 s2b; do
  for cmd in $(commands_not_applied "$name" m "$([ "$name" = s2b ] && echo "$joined" || echo 1)" 0); do
    not_applied+=("$name:$cmd")
  done
done
missing=$(printf '%s\n' "${not_applied[@]}" | sed -n 's/.*://p' | sort -u | wc -l)
commands=$(last_sent_cmd m)

whole=$(skew_lines m 0 s1 s3 s2b || true)
in_step_from=$(tb_field "$(tail -n 1 <<<"$whole")" in-step-from-ns)
restart_ms=-1
p99_restarted=-1
if [ "$in_step_from" -ge 0 ]; then
  restart_ms=$(((in_step_from - $(ready_mono_ns s2b)) / 1000000))
  p99_restarted=$(skew_p99 "$(skew_lines m "$in_step_from" s2b || true)")
fi
echo "programme loss=$LOSS seconds=$SECONDS_PLAYED commands=$commands commands-applied=$((commands - missing))" \
  "not-applied=$(IFS=,; echo "${not_applied[*]:--}")" \
  "restart-in-step-ms=$restart_ms" \
  "skew-p99-us=$(skew_p99 "$(sed -n 1p <<<"$whole")"),$(skew_p99 "$(sed -n 2p <<<"$whole")"),$p99_restarted" \
  "seen=$(loss_sum seen) dropped=$(loss_sum dropped)" \
  "originals=$(counter_sum originals packets) originals-bytes=$(counter_sum originals bytes)" \
  "repeats=$(counter_sum repeats packets) repeats-bytes=$(counter_sum repeats bytes)" \
  "acks=$(counter_sum acks packets) acks-bytes=$(counter_sum acks bytes)"
