#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Attacks from the test network of tests/multihost (testbed.sh): a master on host 1, three slaves on hosts
# 2 to 4 and a forger on host 5 (forger.py), which hears what reaches its host and sends under the other
# hosts' addresses. Each case plays one exposure that SECURITY.md lists, without a key or with one, while
# LOSS per cent of the UDP datagrams on each slave's link are lost at random, both ways:
#   stop-screens    a stop and a pause to each slave with the master's address, process id and next
#                   numbers: six datagrams (multinet-demo)
#   first-copy      forged first copies of the master's next pauses, under acknowledged delivery, while
#                   the session plays (multinet-player)
#   eviction        a forged stop of clock sync to a live slave, then, 5 s later, partner reports from its
#                   address under another process id, under admission of restarted slaves (multinet-player)
#   clock-answers   clock answers to no request, each claiming a slave's clock 30 ms off (multinet-demo)
#   replay          a recording of the master's commands played back, and again after a slave restarted
#                   and heard its master (multinet-demo)
#   bad-signatures  keyed only: unsigned datagrams and datagrams signed with a key id or a key the group does
#                   not use, from three addresses (multinet-demo)
# Each prints 'OUTCOME case=… key=… loss=… exposure=worked|failed …' and passes when the outcome is the one
# SECURITY.md states: without a key stop-screens and replay still work (nothing tells the forger from the
# master there), the others do not; with a key nothing does, and the drop counts show it. ATTACKS_RECORD=1
# prints the outcome and passes whatever it is, for binaries older than the defences (unkeyed cases only).
# usage: attacks.sh CASE open|keyed LOSS_PERCENT MULTINET_DEMO MULTINET_PLAYER    Exit status 77: skipped.
set -euo pipefail
HERE=$(dirname "$0")
readonly HERE
source "$HERE/../multihost/testbed.sh"
source "$HERE/../multihost/players.sh"

readonly CASE=$1 KEY=$2 LOSS=$3 DEMO=$4 PLAYER=$5
readonly PORT=45300
readonly GROUP=5
readonly FORGER_PORT=47999  # the source port of forgeries that need not pass for the master's
readonly -a OFFSETS=(0 4000 -3000 6000)  # each host's clock ahead of the monotonic one: the master's, then s1..s3
# How often a datagram that a lossy link may drop (a start of clock sync, a search) is sent before a case
# gives up: at 20 % loss five tries leave one of three slaves out about once in a thousand runs, ten
# about once in three million.
readonly TRIES=10
TB_PREFIX="tmnc$$-atk-"
KEY_ARGS=()
STATE=""
PYTHON=""

# The forger's commands, inside its host.
forger() { ip netns exec "${TB_PREFIX}h5" "$PYTHON" "$HERE/forger.py" "$@"; }

# start_watch OPTIONS...: the forger listens for the master from now on, in the background (forger.py watch).
start_watch() {
  STATE="$TB_DIR/master.state"
  TB_LOG[forger]="$TB_DIR/forger.log"
  : >"${TB_LOG[forger]}"  # there before the first look, which may come before the background job's redirection
  forger watch --master "$(tb_ip 1)" --port "$PORT" --state "$STATE" "$@" >"${TB_LOG[forger]}" 2>&1 &
  TB_PID[forger]=$!
  tb_wait_for forger '^forger: listening' 1 10 || tb_fail "the forger did not start"
}

set_up() {
  tb_require_namespaces
  command -v python3 >/dev/null || tb_skip "the forger needs python3"
  # The interpreter itself, found once: a version manager's wrapper would cost its start-up at every call.
  PYTHON=$(python3 -c 'import sys; print(sys.executable)')
  [ "$LOSS" -eq 0 ] || tb_require_nft
  trap tb_cleanup EXIT
  tb_make_network 5
  local host
  for host in 2 3 4; do [ "$LOSS" -eq 0 ] || tb_lose "$host" "numgen random mod 100 < $LOSS"; done
  [ "$KEY" = open ] && return
  (umask 077; echo "1 $(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')" >"$TB_DIR/show.keys")
  KEY_ARGS=(--key-file "$TB_DIR/show.keys")
}

slave_keys() { echo "$(slave_key s1),$(slave_key s2),$(slave_key s3)"; }

# The demo's slaves s1..s3 on hosts 2..4, and its master on host 1, which admits them.
start_demo_show() {
  TB_DEMO=$DEMO
  local i
  for i in 1 2 3; do start_demo_slave "s$i" "$i"; done
  tb_start m 1 master --ip "$(tb_ip 1)" --port "$PORT" --group "$GROUP" --slaves "$(slave_keys)" "${KEY_ARGS[@]}"
}

# start_demo_slave NAME I: slave I on host I + 1.
start_demo_slave() {
  tb_start "$1" $(($2 + 1)) slave --ip "$(tb_ip $(($2 + 1)))" --port "$PORT" --group "$GROUP" --master "$(tb_ip 1)" \
    --clock-offset-us "${OFFSETS[$2]}" "${KEY_ARGS[@]}"
}

# The player's slaves s1..s3, as players.sh starts them, with the group's key when the case is keyed.
start_player_slaves() {
  [ -x "$PLAYER" ] || tb_skip "multinet-player is not built"
  TB_DEMO=$PLAYER
  "$TB_DEMO" make-clip "$TB_DIR/clip.avi" --seconds 4 >/dev/null
  local i
  for i in 1 2 3; do start_slave "s$i" $((i + 1)) $((OFFSETS[i] * 10)) "${KEY_ARGS[@]}"; done
}

# drops NAME KIND: the count of KIND (unsigned, replayed, …) in a keyed demo process's status.
drops() { tb_field "$(tb_ask "$1" status '^\[demo\] drops ')" "$2"; }

# received NAME REGEX: how many commands matching REGEX the demo slave NAME has received.
received() { tb_count "$1" "^\\[demo\\] received command=$2"; }

# within N LOW HIGH
within() { [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }

# what_stops_it MESSAGE COMMAND...: the defence's own evidence, required of the new code and not looked
# for in a recorded run of older binaries.
what_stops_it() { [ -n "${ATTACKS_RECORD:-}" ] || "${@:2}" || tb_fail "$1"; }

# outcome WORKED DETAIL: prints the outcome and checks it against what SECURITY.md states.
outcome() {
  local worked=$1 expected=0
  [ "$KEY" = open ] && [[ "$CASE" =~ ^(stop-screens|replay)$ ]] && expected=1
  echo "OUTCOME case=$CASE key=$KEY loss=$LOSS exposure=$( ((worked)) && echo worked || echo failed) $2"
  [ -n "${ATTACKS_RECORD:-}" ] || [ "$worked" -eq "$expected" ] ||
    tb_fail "the exposure $( ((worked)) && echo worked || echo failed), SECURITY.md says it $( ((expected)) && echo still works || echo is stopped)"
}

case_stop_screens() {
  start_demo_show
  start_watch --ask-from "$(tb_ip 5)" --group "$GROUP"
  tb_ask m "start 0 1" '^\[demo\] sent ' >/dev/null  # the screens play; the forger hears the master
  forger stop-screens --state "$STATE" --master "$(tb_ip 1)" --port "$PORT" --slaves "$(tb_ip 2),$(tb_ip 3),$(tb_ip 4)"
  sleep 1
  local name carried=0 unsigned=0
  for name in s1 s2 s3; do
    carried=$((carried + $(received "$name" '(stop|pause) .* user-data=forged')))
    [ "$KEY" = keyed ] && unsigned=$((unsigned + $(drops "$name" unsigned)))
  done
  # With a key every forgery that came through the lossy links is counted; without loss all six.
  [ "$KEY" = open ] || what_stops_it "the slaves counted $unsigned unsigned datagrams" within "$unsigned" $((LOSS ? 1 : 6)) 6
  outcome $((carried > 0)) "carried-out=$carried/6 dropped-unsigned=$unsigned"
}

case_first_copy() {
  start_player_slaves
  start_watch --forge-ahead 32 --forger-port "$FORGER_PORT"
  start_master m "$(slave_keys)" --media "$TB_DIR/clip.avi" "${KEY_ARGS[@]}"
  tb_wait_for m '^\[demo\] finished ' 1 90 || tb_fail "the session did not end"
  tb_reap m || true  # a session whose commands were suppressed may end with its waits unmet
  tb_kill forger TERM
  local name cmd missing suppressed="" conflicts=0 slaves_told=0
  for name in s1 s2 s3; do
    # The forger copies pauses: a genuine pause that a slave never applied is one it suppressed.
    while read -r cmd; do
      tb_wait_for "$name" "^\\[demo\\] applied command=pause cmd=$cmd .*ok=1" 1 3 || suppressed+="${suppressed:+ }$name:$cmd"
    done < <(sed -n 's/^\[demo\] sent command=pause cmd=\([0-9]*\) .*/\1/p' "${TB_LOG[m]}")
    # Suppressed: never handled. A command handled and refused (a seek that a session slowed by loss aimed
    # past the end of the clip), or ignored as older than one applied (its first copy lost, it came after
    # the next command), was delivered all the same.
    missing=$(commands_not_applied "$name" m 1 3 '((applied|ignored) command=[a-z]+ |prepared )' '' | xargs)
    what_stops_it "$name did not apply the commands $missing" [ -z "$missing" ]
    conflicts=$((conflicts + $(tb_count "$name" 'differs from its first copy')))
    [ "$(tb_count "$name" 'differs from its first copy|dropped an unsigned datagram')" -eq 0 ] || slaves_told=$((slaves_told + 1))
  done
  # The slaves say what they saw: the conflict without a key, the drop with one; every slave without loss.
  what_stops_it "$slaves_told slaves told of the forged copies" [ "$slaves_told" -ge $((LOSS ? 1 : 3)) ]
  [ "$KEY" = open ] || what_stops_it "a keyed slave saw a conflict" [ "$conflicts" -eq 0 ]
  outcome $((${#suppressed} > 0)) "suppressed=${suppressed:-none} conflict-lines=$conflicts"
}

case_eviction() {
  start_player_slaves
  start_watch
  start_master m "$(slave_keys)" --media "$TB_DIR/clip.avi" --loop --for 40 "${KEY_ARGS[@]}"
  session_step_met start 1 60
  sleep 3  # heartbeats from every slave: only entries that heartbeated and went silent are replaced
  forger evict --state "$STATE" --master "$(tb_ip 1)" --port "$PORT" --slave "$(tb_ip 3)" >>"${TB_LOG[forger]}"
  sleep 1.5
  local evicted asked
  evicted=$(tb_count m 'in place of')
  asked=$(tb_count m "asks for the place of $(slave_key s2)")
  if [ "$KEY" = open ]; then
    # Without loss the master must have asked; under loss the forged stop itself may not have arrived.
    [ "$LOSS" -gt 0 ] || what_stops_it "the master did not ask the live slave" [ "$asked" -ge 1 ]
  else
    what_stops_it "the keyed slave did not drop the forged stop" grep -a -q "dropped an unsigned datagram from $(tb_ip 1)" "${TB_LOG[s2]}"
    what_stops_it "the keyed master did not drop the forged reports" grep -a -q "dropped an unsigned datagram from $(tb_ip 3)" "${TB_LOG[m]}"
  fi
  outcome $((evicted > 0)) "in-place-lines=$evicted master-asked=$asked"
}

# unicast_port HOST PID: the port of the socket bound to the host's address by that process, not the group's.
unicast_port() {
  ip netns exec "${TB_PREFIX}h$1" ss -Huanp | grep "pid=$2," | awk '{print $4}' | grep "^$(tb_ip "$1"):" |
    grep -v ":$PORT\$" | sed 's/.*://' | head -n1
}

case_clock_answers() {
  start_demo_show
  start_watch
  tb_ask m find '^\[demo\] sent ' >/dev/null
  local name i _
  for _ in $(seq "$TRIES"); do  # a start of clock sync lost on the way is sent again
    tb_ask m clocksync '^\[demo\] sent ' >/dev/null
    for name in s1 s2 s3; do tb_wait_for "$name" '^\[demo\] clock-offset ' 10 3 || continue 2; done
    break
  done
  local targets=() mark=()
  for i in 1 2 3; do
    tb_wait_for "s$i" '^\[demo\] clock-offset ' 10 1 || tb_fail "s$i never synchronised its clock"
    targets+=(--slave "$(tb_ip $((i + 1))):$(unicast_port $((i + 1)) "${TB_PID[s$i]}"):${OFFSETS[i]}")
    mark[i]=$(tb_count "s$i" '^\[demo\] clock-offset ')
  done
  forger clock --state "$STATE" --master "$(tb_ip 1)" --from-port "$FORGER_PORT" "${targets[@]}" >>"${TB_LOG[forger]}"
  sleep 1
  local worst=0 left_out=0 us error
  for i in 1 2 3; do
    # The largest distance from the injected offset of what the slave was told since the forgery began.
    for us in $(grep -a '^\[demo\] clock-offset ' "${TB_LOG[s$i]}" | tail -n +$((mark[i] + 1)) | sed 's/.* us=\([-0-9]*\).*/\1/'); do
      error=$((us - OFFSETS[i]))
      [ "${error#-}" -le "$worst" ] || worst=${error#-}
    done
    left_out=$((left_out + $(tb_count "s$i" "clock answer from $(tb_ip 1):$FORGER_PORT to no request")))
    [ "$KEY" = open ] || what_stops_it "s$i dropped no forged answer" [ "$(drops "s$i" unsigned)" -ge 1 ]
  done
  [ "$KEY" = keyed ] || what_stops_it "no slave said that it left an answer out" [ "$left_out" -ge 1 ]
  outcome $((worst > 10000)) "worst-offset-error-us=$worst left-out-lines=$left_out"
}

# receipts NAME: how many times the demo slave NAME has received each command of the recording (cmd1 cmd2).
receipts() { echo "$(received "$1" "pause .* user-data=cmd1 ") $(received "$1" "stop .* user-data=cmd2 ")"; }

case_replay() {
  start_demo_show
  start_watch --record "$TB_DIR/recording"
  tb_ask m "pause 1.5" '^\[demo\] sent ' >/dev/null
  tb_ask m "stop 2.5" '^\[demo\] sent ' >/dev/null
  sleep 0.5
  local count again=0
  forger replay --file "$TB_DIR/recording" --codes 302,303 --times 3 >>"${TB_LOG[forger]}"
  sleep 1
  # A command carried out twice is a replay that worked. Once is none: a slave that had lost the command on
  # its lossy link may take the copy for the first time (with a key, a counter above the highest it has
  # taken from the master is new to it, until the master sends it something newer).
  for count in $(receipts s1) $(receipts s2) $(receipts s3); do [ "$count" -lt 2 ] || again=$((again + 1)); done
  [ "$KEY" = open ] || what_stops_it "a slave counted no replay" [ "$(($(drops s1 replayed) + $(drops s2 replayed) + $(drops s3 replayed)))" -ge 1 ]

  # The slave on host 3 starts again, with a new process id; it hears its master's next search, and then the
  # recording once more.
  tb_kill s2 KILL
  start_demo_slave s2b 2
  local _
  for _ in $(seq "$TRIES"); do
    tb_ask m find '^\[demo\] sent ' >/dev/null
    tb_wait_for s2b 'slave report self position' 1 1 && break
  done
  tb_wait_for s2b 'slave report self position' 1 0 || tb_fail "the restarted slave never heard its master"
  forger replay --file "$TB_DIR/recording" --codes 302,303 --times 3 >>"${TB_LOG[forger]}"
  sleep 1
  local after_restart=$(($(receipts s2b | tr ' ' +)))
  [ "$KEY" = open ] || what_stops_it "the restarted slave counted no replay" [ "$(drops s2b replayed)" -ge 1 ]
  outcome $((again > 0 || after_restart > 0)) "carried-out-again=$again after-restart=$after_restart"
}

case_bad_signatures() {
  start_demo_show
  local count=50 senders=("$(tb_ip 1)" "$(tb_ip 5)" "$(tb_ip 200)")
  forger junk --port "$PORT" --group "$GROUP" --key-id 1 --sources "$(IFS=,; echo "${senders[*]}")" --count "$count"
  local name ip kind heard flood=0 carried=0 counted
  for name in m s1 s2 s3; do
    # The master's host takes nothing from the network that claims its own address.
    heard=("${senders[@]}")
    [ "$name" != m ] || heard=("${senders[@]:1}")
    # A sanitizer build on a busy machine may take seconds over the burst; then a moment for any line too many.
    tb_wait_for "$name" 'MultiNetControl WARING' $((3 * ${#heard[@]})) 10 || true
    sleep 0.5
    # One line for each sender and kind (each kind's wording is tst_demokeys'), and none about anything else
    # the forgeries might have done.
    for ip in "${heard[@]}"; do
      [ "$(tb_count "$name" "WARING dropped .* from $ip:")" -eq 3 ] || tb_fail "$name: not one line of each kind from $ip"
    done
    [ "$(tb_count "$name" 'MultiNetControl WARING')" -eq $((3 * ${#heard[@]})) ] || flood=1
    [ "$name" = m ] || carried=$((carried + $(received "$name" '.* user-data=forged')))
    # Every forgery that reached the door is counted; a burst may overflow a slow receiver's socket buffer
    # (a sanitizer build), so fewer may arrive, never more.
    for kind in unsigned unknown-key bad-signature; do
      counted=$(drops "$name" "$kind")
      within "$counted" 1 $((${#heard[@]} * count)) || tb_fail "$name counted $counted of kind $kind"
    done
  done
  outcome $((flood || carried)) "warning-lines=one-per-sender-and-kind carried-out=$carried"
}

[ "$CASE" != bad-signatures ] || [ "$KEY" = keyed ] || tb_skip "bad-signatures is a case of a keyed group"
set_up
case "$CASE" in
  stop-screens | first-copy | eviction | clock-answers | replay | bad-signatures) "case_${CASE//-/_}" ;;
  *) echo "usage: $0 stop-screens|first-copy|eviction|clock-answers|replay|bad-signatures open|keyed LOSS DEMO PLAYER" >&2; exit 2 ;;
esac
echo "PASS: $CASE $KEY $LOSS"
