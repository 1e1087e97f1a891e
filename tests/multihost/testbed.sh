# SPDX-License-Identifier: MIT
# A network of test hosts made of namespaces, and multinet-demo processes on them. Sourced by multihost.sh.
#
# The network: a bridge in a namespace of its own and hosts h1..hN, each a namespace joined to the bridge
# by a veth pair and given 10.77.<subnet>.<n>/24. Every name starts with a prefix unique to this run, no
# interface is made in (or moved through) the root namespace, and tb_cleanup, run on every exit, kills
# the processes started here and deletes the namespaces, which takes their interfaces with them.
#
# The processes: tb_start runs multinet-demo inside a host with its standard input on a FIFO (tb_send
# writes lines to it) and its output in a log file of its own (tb_wait_for reads it).

readonly TB_SKIP=77
TB_PREFIX="tmnc$$-"
TB_SUBNET=$(( $$ % 200 + 20 ))
TB_DIR=""
TB_BRIDGE_NS=""
TB_FAILED=0
declare -A TB_PID TB_FD TB_LOG

tb_skip() { echo "SKIP: $*"; exit "$TB_SKIP"; }

tb_require_namespaces() {
  [ "$(id -u)" -eq 0 ] || tb_skip "the multi-host tests make network namespaces, which needs root"
  command -v ip >/dev/null || tb_skip "'ip' (iproute2) is not installed"
  ip netns add "${TB_PREFIX}probe" 2>/dev/null ||
    tb_skip "'ip netns add' does not work here (no permission to make network namespaces)"
  ip netns del "${TB_PREFIX}probe"
  tb_remove_stale
}

# Namespaces of earlier runs that were killed before their cleanup (a time-out's SIGKILL): their prefix
# names a process that no longer exists.
tb_remove_stale() {
  local ns
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    [[ "$ns" =~ ^tmnc([0-9]+)- ]] && ! kill -0 "${BASH_REMATCH[1]}" 2>/dev/null && ip netns del "$ns" || true
  done
}

# Run on every exit: what this run started goes, and a failed run shows its processes' last lines.
tb_cleanup() {
  local status=$? name ns
  for name in "${!TB_PID[@]}"; do kill -KILL "${TB_PID[$name]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case "$ns" in "${TB_PREFIX}"*) ip netns del "$ns" 2>/dev/null || true ;; esac
  done
  if { [ "$TB_FAILED" -ne 0 ] || { [ "$status" -ne 0 ] && [ "$status" -ne "$TB_SKIP" ]; }; } && [ -n "$TB_DIR" ]; then
    for name in "${!TB_LOG[@]}"; do
      echo "----- last lines of $name (${TB_LOG[$name]})"
      tail -n 40 "${TB_LOG[$name]}"
    done
  fi
  # TB_KEEP=DIR keeps the logs there, for a look after the run.
  [ -n "${TB_KEEP:-}" ] && [ -n "$TB_DIR" ] && mkdir -p "$TB_KEEP" && cp -r "$TB_DIR"/. "$TB_KEEP"/
  [ -n "$TB_DIR" ] && rm -rf "$TB_DIR"
}

# Makes the bridge and `count` hosts.
tb_make_network() {
  local count=$1 i
  TB_DIR=$(mktemp -d "/tmp/${TB_PREFIX}XXXX")
  TB_BRIDGE_NS="${TB_PREFIX}br"
  ip netns add "$TB_BRIDGE_NS"
  ip -n "$TB_BRIDGE_NS" link set lo up
  ip -n "$TB_BRIDGE_NS" link add br0 type bridge
  ip -n "$TB_BRIDGE_NS" link set br0 up
  for ((i = 1; i <= count; i++)); do
    local ns="${TB_PREFIX}h$i"
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    # Both ends are made straight inside their namespaces: nothing appears in the root namespace.
    ip link add eth0 netns "$ns" type veth peer name "port$i" netns "$TB_BRIDGE_NS"
    ip -n "$ns" addr add "$(tb_ip "$i")/24" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$TB_BRIDGE_NS" link set "port$i" master br0
    ip -n "$TB_BRIDGE_NS" link set "port$i" up
  done
}

tb_ip() { echo "10.77.${TB_SUBNET}.$1"; }

# Cuts host `n` off the bridge, or joins it again: its cable is pulled at the switch.
tb_link() { ip -n "$TB_BRIDGE_NS" link set "port$1" "$2"; }

# tb_nft HOST: loads the nftables rules read from standard input inside host HOST; they go with its namespace.
tb_nft() { ip netns exec "${TB_PREFIX}h$1" nft -f -; }

# tb_lose HOST MATCH: drops the UDP datagrams on host HOST's link, both ways, for which the nftables
# expression MATCH holds ("numgen inc mod 5 == 0": every fifth each way). Counters on each rule count the
# datagrams seen and those dropped.
tb_lose() {
  tb_nft "$1" <<EOF
table inet tb_loss {
  chain in { type filter hook input priority 0; policy accept; iifname "eth0" meta l4proto udp counter $2 counter drop; }
  chain out { type filter hook output priority 0; policy accept; oifname "eth0" meta l4proto udp counter $2 counter drop; }
}
EOF
}

tb_require_nft() { command -v nft >/dev/null || tb_skip "'nft' (nftables) is not installed"; }

# The CLOCK_MONOTONIC time in nanoseconds: the clock of the players' frame logs and event lines. The
# kernel's timer list (root only) gives it: no common command prints that clock.
tb_mono_ns() { sed -n 's/^now at \([0-9]*\) nsecs$/\1/p;T;q' /proc/timer_list; }

# tb_start NAME HOST ARGS...: runs multinet-demo ARGS inside host HOST and waits for its ready line.
tb_start() {
  local name=$1 host=$2 fifo="$TB_DIR/$1.in" fd
  shift 2
  TB_LOG[$name]="$TB_DIR/$name.log"
  : >"${TB_LOG[$name]}"  # there before the waits below read it: the program opens it only once the fifo is open
  mkfifo "$fifo"
  ip netns exec "${TB_PREFIX}h$host" "$TB_DEMO" "$@" <"$fifo" >"${TB_LOG[$name]}" 2>&1 &
  TB_PID[$name]=$!  # `ip netns exec` execs the program, so this is its pid
  exec {fd}>"$fifo"
  TB_FD[$name]=$fd
  tb_wait_for "$name" '^\[demo\] ready ' 1 20 || tb_fail "$name did not start"
}

tb_send() { echo "$2" >&"${TB_FD[$1]}"; }

tb_count() { grep -a -c -E -- "$2" "${TB_LOG[$1]}" || true; }

# tb_wait_for NAME REGEX COUNT TIMEOUT_S: waits until the log of NAME holds COUNT lines matching REGEX;
# gives up early when the process has ended (after one last look: it writes nothing more).
tb_wait_for() {
  local name=$1 pattern=$2 count=$3 deadline=$((SECONDS + $4))
  while [ "$(tb_count "$name" "$pattern")" -lt "$count" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    [ -z "${TB_PID[$name]:-}" ] || kill -0 "${TB_PID[$name]}" 2>/dev/null || break
    sleep 0.05
  done
  [ "$(tb_count "$name" "$pattern")" -ge "$count" ]
}

# tb_ask NAME LINE REGEX [TIMEOUT_S]: sends LINE and waits (5 s) for one more line matching REGEX; prints it.
tb_ask() {
  local name=$1 line=$2 pattern=$3 timeout=${4:-5} before
  before=$(tb_count "$name" "$pattern")
  tb_send "$name" "$line"
  tb_wait_for "$name" "$pattern" $((before + 1)) "$timeout" || tb_fail "$name did not answer '$line' within $timeout s"
  grep -a -E -- "$pattern" "${TB_LOG[$name]}" | sed -n "$((before + 1))p"
}

# tb_master_wait NAME WHAT TIMEOUT_S: the master's "wait WHAT"; fails the test when it is not met.
tb_master_wait() {
  local answer
  answer=$(tb_ask "$1" "wait $2 $(($3 * 1000))" '^\[demo\] waited ' $(($3 + 2)))
  [[ "$answer" == *" met=1 "* ]] || tb_fail "$1: 'wait $2' was not met within $3 s"
}

# The value of `key` in an event line.
tb_field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"; }

# The key (ip_pid) that the process NAME (a slave) gave in its ready line.
slave_key() { tb_field "$(grep -a -m1 '^\[demo\] ready ' "${TB_LOG[$1]}")" key; }

# tb_reap NAME: waits for NAME to end and forgets it; its exit status.
tb_reap() { local pid=${TB_PID[$1]}; unset "TB_PID[$1]"; wait "$pid" 2>/dev/null; }

# tb_quit NAME...: ends each with "quit" and checks that it exits with status 0.
tb_quit() {
  local name
  for name; do tb_send "$name" quit; tb_reap "$name" || tb_fail "$name exited with status $?"; done
}

tb_kill() { kill "-$2" "${TB_PID[$1]}"; tb_reap "$1" || true; }

tb_fail() { echo "FAIL: $*"; TB_FAILED=1; exit 1; }
