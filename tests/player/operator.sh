#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A show steered from the operator's page in a real browser: a master with --operator on host 1 of a
# namespace test network (tests/multihost/testbed.sh), three slaves on hosts 2 to 4, and headless Chromium
# on host 5, the operator's PC, driven by chromedriver through Selenium (operator_page.py). The page must
# show every slave on line with its figures; a slave killed with SIGKILL off line within 1 s of the
# master's line that says so, and on line again once it is started again; pause must stop every player's
# frame log, and play start them again; next, seek, stop and play again must be carried out; a trim set on
# the page must move that screen's skew against the master by the trim, within 100 us. The token never
# shows in the master's output. Prints how long the page took after each event.
# usage: operator.sh PATH_TO_MULTINET_PLAYER [SCREENSHOT_PNG [TRIES]]   Exit status 77: skipped.
# TRIES (default 1, at most 3) repeats the off-line and pause rounds, for bench/tools/operator-figures.sh.
set -euo pipefail
here=$(dirname "$0")
source "$here/../multihost/testbed.sh"
source "$here/../multihost/players.sh"

PLAYER=$1
TB_DEMO=$PLAYER
readonly SCREENSHOT=${2:-}
readonly TRIES=${3:-1}
readonly PORT=45300
readonly GROUP=6
readonly HTTP_PORT=8080
readonly TRIM_MS=20
readonly TRIM_BOUND_US=100
# Loose, as in tests/multihost: far below the injected offsets, above what a busy machine does to frames.
readonly BOUND_US=10000
# Debian's Python, which python3-selenium is for (a python3 earlier on PATH may be another one).
readonly PYTHON=/usr/bin/python3
TB_PREFIX="tmnc$$-op-"

tb_require_namespaces
command -v chromium >/dev/null && command -v chromedriver >/dev/null && "$PYTHON" -c 'import selenium' 2>/dev/null ||
  tb_skip "chromium, chromium-driver or python3-selenium is not installed"
# The browser's processes go with the page's helper, whose process group they are in (a helper that quit
# ended them itself).
end_browser() {
  local status=$?
  [ -z "${TB_PID[page]:-}" ] || kill -KILL -- "-${TB_PID[page]}" 2>/dev/null || true
  return "$status"
}
trap 'end_browser; tb_cleanup' EXIT
tb_make_network 5
"$PLAYER" make-clip "$TB_DIR/clip.avi" --seconds 6 >/dev/null
# Two items, so that "next" has somewhere to go.
printf 'clip.avi\nclip.avi\n' >"$TB_DIR/show.txt"
head -c 24 /dev/urandom | base64 >"$TB_DIR/token"
chmod 600 "$TB_DIR/token"

slaves=(s1 s2 s3)  # on hosts 2, 3 and 4
offsets=(25000 -40000 55000)
for i in 0 1 2; do start_slave "${slaves[i]}" $((i + 2)) "${offsets[i]}"; done
start_master m "$(slave_key s1),$(slave_key s2),$(slave_key s3)" --playlist "$TB_DIR/show.txt" --loop \
  --operator "$(tb_ip 1):$HTTP_PORT" --operator-token-file "$TB_DIR/token"
session_step_met start 1 60
grep -a -q "^\[demo\] operator url=http://$(tb_ip 1):$HTTP_PORT/ reads-need-token=1" "${TB_LOG[m]}" ||
  tb_fail "the master did not say where its page is"

TB_DEMO=$PYTHON tb_start page 5 "$here/operator_page.py" --url "http://$(tb_ip 1):$HTTP_PORT/" --token-file "$TB_DIR/token"

# signed_median_us REFERENCE LOG FROM_NS TO_NS: the median, over the frames LOG's player rendered from
# FROM_NS to TO_NS, of the time it showed each minus the time the reference showed the same frame nearest
# to it (compare's figures are of magnitudes: a trim's sign and size need the signed one).
signed_median_us() {
  "$PYTHON" - "$@" <<'EOF'
import statistics, sys
def rendered(path): return [(int(w[1]), int(w[2])) for w in map(str.split, open(path)) if len(w) == 3 and w[0] == 'r']
shown, since, until = {}, int(sys.argv[3]), int(sys.argv[4])
for key, mono in rendered(sys.argv[1]): shown.setdefault(key, []).append(mono)
skews = [min((mono - t for t in shown[key]), key=abs) for key, mono in rendered(sys.argv[2]) if since <= mono < until and key in shown]
print(round(statistics.median(skews) / 1000) if skews else 'none')
EOF
}

# ask LINE REGEX TIMEOUT_S: the browser's answer to LINE, which must say met=1.
ask() {
  local reply
  reply=$(tb_ask page "$1" "$2" "$3")
  [[ "$reply" == *" met=1"* ]] || tb_fail "the page did not show it: '$1' answered $reply"
  echo "$reply"
}

# frames_logged NAME...: how many frames each player's log holds (written once a second).
frames_logged() { for log in "$@"; do wc -l <"$TB_DIR/$log.frames"; done | paste -sd' '; }

ask "rows 3 20" '^\[demo\] rows ' 25 >/dev/null
echo "every slave on line with its figures"

for ((try = 1; try <= TRIES; try++)); do
  # A slave killed: the library marks it off line 5 s after its last heartbeat, and the master says so. A
  # slave of each host in turn, none started again before (the master's line for one started again may
  # come early: see docs/OPERATOR.md).
  index=$((try % 3))
  host=$((index + 2))
  killed_ns=$(tb_mono_ns)
  tb_kill "${slaves[$index]}" KILL
  reply=$(ask "offline $(tb_ip $host) ${TB_LOG[m]} 15" '^\[demo\] offline ' 20)
  echo "off line on the page $(tb_field "$reply" page-after-line-ms) ms after the master's line" \
    "($(( $(tb_field "$reply" line-mono-us) - killed_ns / 1000 ))" \
    "and $(( $(tb_field "$reply" page-mono-us) - killed_ns / 1000 )) us after the kill)"
  [ "$(tb_field "$reply" page-after-line-ms)" -le 1000 ] || tb_fail "the page showed the slave off line too late"
  slaves[$index]=s${host}r$try  # the same screen's player started again: a new process, a new log
  start_slave "${slaves[$index]}" "$host" "${offsets[$index]}"
  ask "online $(tb_ip $host) 30" '^\[demo\] online ' 35 >/dev/null
  session_step_met join "$try" 30
  echo "on line again after its restart"

  # Pause: no player logs a frame any more (their logs are written once a second); play: they all do again.
  reply=$(ask "click pause paused 10" '^\[demo\] clicked ' 15)
  echo "pause on the page $(tb_field "$reply" ms) ms after the click"
  sleep 2
  paused=$(frames_logged m "${slaves[@]}")
  sleep 2
  [ "$(frames_logged m "${slaves[@]}")" = "$paused" ] || tb_fail "a player went on showing frames while paused"
  reply=$(ask "click play playing 10" '^\[demo\] clicked ' 15)
  echo "play on the page $(tb_field "$reply" ms) ms after the click"
  sleep 2.5
  paste -d' ' <(tr ' ' '\n' <<<"$paused") <(frames_logged m "${slaves[@]}" | tr ' ' '\n') | awk '$2 <= $1 { exit 1 }' ||
    tb_fail "a player did not play again after play"
done
echo "pause stopped every player's frames, and play started them again"

ask "click next playing 10" '^\[demo\] clicked ' 15 >/dev/null
ask "seek 3 10" '^\[demo\] sought ' 15 >/dev/null
ask "click stop stopped 10" '^\[demo\] clicked ' 15 >/dev/null
ask "click play playing 40" '^\[demo\] clicked ' 45 >/dev/null
echo "next, seek, stop and play again carried out"

# A trim of one screen moves its skew against the master by the trim, and only its.
sleep 3
reply=$(ask "trim $(tb_ip 2) $TRIM_MS 10" '^\[demo\] trimmed ' 15)
trimmed_ns=$(($(tb_field "$reply" mono-us) * 1000))
sleep 4
before_us=$(signed_median_us "$TB_DIR/m.frames" "$TB_DIR/${slaves[0]}.frames" $((trimmed_ns - 3000000000)) "$trimmed_ns")
after_us=$(signed_median_us "$TB_DIR/m.frames" "$TB_DIR/${slaves[0]}.frames" $((trimmed_ns + 1000000000)) $((trimmed_ns + 4000000000)))
moved_us=$((after_us - before_us))
echo "a trim of $TRIM_MS ms moved that screen's median skew from $before_us us to $after_us us"
moved_off=$((moved_us - TRIM_MS * 1000))
[ "${moved_off#-}" -le "$TRIM_BOUND_US" ] ||
  tb_fail "the trim moved the skew by $moved_us us, not by $TRIM_MS ms"

[ -z "$SCREENSHOT" ] || ask "shot $SCREENSHOT" '^\[demo\] shot ' 15 >/dev/null
tb_quit page
tb_quit m
grep -a -q -F -- "$(cat "$TB_DIR/token")" "${TB_LOG[m]}" "${TB_LOG[page]}" && tb_fail "the token showed in a log"
echo "PASS: operator page"
