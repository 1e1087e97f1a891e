# SPDX-License-Identifier: MIT
# multinet-player processes on the hosts of the test network (testbed.sh): slaves and masters started
# with the options every scenario shares, and what their event lines say. Sourced after testbed.sh by
# playback.sh, resilience.sh and the lossy benchmark, which set TB_DEMO (the player), PORT, GROUP and
# BOUND_US (the p99 skew of a player in step) first.

# start_slave NAME HOST CLOCK_OFFSET_US [OPTIONS...]: a headless slave on host HOST whose frames go to NAME.frames.
start_slave() {
  tb_start "$1" "$2" slave --ip "$(tb_ip "$2")" --port "$PORT" --group "$GROUP" --master "$(tb_ip 1)" \
    --clock-offset-us "$3" --frame-log "$TB_DIR/$1.frames" --headless "${@:4}"
}

# start_master NAME SLAVE_KEYS PROGRAMME_OPTIONS...: a headless master on host 1 whose frames go to NAME.frames.
start_master() {
  tb_start "$1" 1 master --ip "$(tb_ip 1)" --port "$PORT" --group "$GROUP" --slaves "$2" \
    --frame-log "$TB_DIR/$1.frames" --headless "${@:3}"
}

# session_step_met STEP COUNT TIMEOUT_S [MASTER]: waits for COUNT lines of the master saying that STEP was met.
session_step_met() {
  local master=${4:-m}
  tb_wait_for "$master" "^\[demo\] session step=$1 met=1" "$2" "$3" ||
    tb_fail "$master: '$1' was not met: $(grep -a '^\[demo\] session ' "${TB_LOG[$master]}" | tail -n 3)"
}

# ends_by_itself NAME: waits for a master whose programme is over to exit, and checks its status.
ends_by_itself() {
  tb_wait_for "$1" '^\[demo\] finished ' 1 60 || tb_fail "$1: the programme did not end"
  tb_reap "$1" || tb_fail "$1 exited with status $?: $(grep -a '^\[demo\] session .*met=0' "${TB_LOG[$1]}")"
}

# ready_mono_ns NAME: the CLOCK_MONOTONIC time at which NAME said it was ready, in nanoseconds.
ready_mono_ns() { echo $(($(tb_field "$(grep -a -m1 '^\[demo\] ready ' "${TB_LOG[$1]}")" mono-us) * 1000)); }

# last_sent_cmd MASTER [COMMAND]: the number of the last command (of that name) MASTER sent; 0 for none.
last_sent_cmd() {
  local line
  line=$(grep -a "^\[demo\] sent command=${2:-[a-z]*} " "${TB_LOG[$1]}" | tail -n 1)
  [ -n "$line" ] && tb_field "$line" cmd || echo 0
}

# commands_not_applied SLAVE MASTER FROM WAIT_S [HOW [OUTCOME]]: the numbers of the commands that MASTER
# sent from number FROM on and SLAVE has not applied (or prepared) with success, giving each WAIT_S to
# come. HOW and OUTCOME, regexes of the slave's line before and after "cmd=N ", count other ends too.
commands_not_applied() {
  local slave=$1 master=$2 from=$3 cmd
  for cmd in $(grep -a '^\[demo\] sent ' "${TB_LOG[$master]}" | sed -n 's/.* cmd=\([0-9]*\) .*/\1/p'); do
    [ "$cmd" -ge "$from" ] || continue
    tb_wait_for "$slave" "^\[demo\] ${5:-(applied command=[a-z]+ |prepared )}cmd=$cmd ${6-.*ok=1}" 1 "$4" || echo "$cmd"
  done
}

# applied_every_command SLAVE MASTER [FROM]: fails unless SLAVE has applied every command that MASTER
# sent from number FROM (default 1) on.
applied_every_command() {
  local missing
  missing=$(commands_not_applied "$1" "$2" "${3:-1}" 5)
  [ -z "$missing" ] || tb_fail "$1 did not apply the commands" $missing "of $2"
}

# applied_or_overtaken SLAVE MASTER [FROM]: as applied_every_command, but a command may also have been
# passed over as older than one SLAVE applied: under loss the repeat of a lost command can come after the
# next command.
applied_or_overtaken() {
  local missing
  missing=$(commands_not_applied "$1" "$2" "${3:-1}" 5 "(applied command=[a-z]+ |prepared |ignored command=[a-z]+ )" \
    "(.*ok=1|run=[0-9]+ reason=applied_already,_or_older_than_the_last_one_applied)")
  [ -z "$missing" ] || tb_fail "$1 neither applied nor passed over as older the commands" $missing "of $2"
}

# tb_lab ARGUMENTS...: multinet-lab, the lab that is built and installed beside the player TB_DEMO.
tb_lab() { "$(dirname "$TB_DEMO")/multinet-lab" "$@"; }

# skew_lines REFERENCE SINCE_NS NAME...: compare's line for the frames that each NAME showed from SINCE_NS
# on (0: all of them) against those of the master REFERENCE; true when every one is within BOUND_US at p99.
skew_lines() {
  local reference=$1 since=$2 name logs=()
  shift 2
  for name in "$@"; do logs+=("$TB_DIR/$name.frames"); done
  tb_lab compare --bound-us "$BOUND_US" --since-ns "$since" "$TB_DIR/$reference.frames" "${logs[@]}"
}

# in_step REFERENCE SINCE_NS NAME...: as skew_lines, and fails unless every NAME is in step. A player that
# took long to come in step after SINCE_NS fails it too: its frames of that time are beyond the p99 bound.
in_step() { skew_lines "$@" || tb_fail "not in step with $1: ${*:3}"; }
