#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Real media in step across hosts: multinet-player master and slaves on separate hosts of a test network
# made of namespaces, each host's clock off by tens of milliseconds. One slave joins late, while the
# programme plays, and must come in on the master's time line; another is killed with SIGKILL while it
# plays, and the session must still end complete. The players' frame logs give the skew of each survivor.
# usage: playback.sh PATH_TO_MULTINET_PLAYER        Exit status 77: skipped.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"
source "$(dirname "$0")/players.sh"

readonly TB_DEMO=$1
readonly PORT=45100
readonly GROUP=3
# Loose: a check that every survivor plays in step on a machine that may be busy (four players with
# real-time threads share its cores, and a virtual machine loses its CPUs for 10 to 17 ms now and then,
# which the late slave's p99, its three worst frames, can hold), below the injected offsets (25 ms and
# more), so that a slave off by its offset fails.
readonly BOUND_US=20000
TB_PREFIX="tmnc$$-play-"

tb_require_namespaces
trap tb_cleanup EXIT
tb_make_network 4
"$TB_DEMO" make-clip "$TB_DIR/clip.avi" --seconds 12 >/dev/null

start_slave s1 2 25000
start_slave s2 3 -40000
start_master m "$(slave_key s1),$(slave_key s2)" --media "$TB_DIR/clip.avi"

# While the first stretch plays, a third slave starts on its own host and is admitted.
session_step_met start 1 30
start_slave s3 4 55000
tb_send m "admit $(slave_key s3)"
session_step_met join 1 30
tb_wait_for s3 '^\[demo\] applied command=start .* ok=1' 1 5 || tb_fail "the late slave was not started"

# The second slave dies while it plays; the others play the session to its end, every wait met (the
# master's exit status), their reports of complete among them.
sleep 0.5
tb_kill s2 KILL
ends_by_itself m
tb_quit s1 s3

in_step m 0 s1 s3
echo "PASS: playback"
