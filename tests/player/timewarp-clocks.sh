#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# multinet-timewarp's own promises, at a drift of +100 % (twice as fast) so that a fault shows at once:
#   - a process run with --clock-of another reads that process's warped clock, not one of its own that
#     starts at its start (a sound server and its player on one PC read one clock);
#   - a timer descriptor armed for an absolute deadline on the warped clock fires when that clock gets
#     there: at half the warped time, in real time (a PipeWire daemon's graph runs on such timers).
# Usage: timewarp-clocks.sh MULTINET-TIMEWARP. Exit status 77: libfaketime or python3 is missing.
set -euo pipefail
timewarp=$1
compgen -G "/usr/lib/*/faketime/libfaketime.so.1" >/dev/null || compgen -G "/usr/lib/faketime/libfaketime.so.1" >/dev/null ||
  { echo "SKIP: libfaketime is not installed (libfaketime)"; exit 77; }
command -v python3 >/dev/null || { echo "SKIP: python3 is missing"; exit 77; }
ppm=1000000
probe=$(mktemp --suffix=.py)
holder=
trap 'rm -f "$probe"; [ -z "$holder" ] || kill "$holder" 2>/dev/null || true' EXIT

# Prints the warped CLOCK_MONOTONIC less the real one (a raw system call, which the warp leaves alone), in
# ms; with "timer", then the real seconds that a timer descriptor armed for 2 warped seconds on took.
cat >"$probe" <<'PY'
import ctypes, sys, time
libc = ctypes.CDLL(None, use_errno=True)
class Timespec(ctypes.Structure):
    _fields_ = [("sec", ctypes.c_long), ("nsec", ctypes.c_long)]
class Itimerspec(ctypes.Structure):
    _fields_ = [("interval", Timespec), ("value", Timespec)]
SYS_clock_gettime, CLOCK_MONOTONIC, TFD_TIMER_ABSTIME = 228, 1, 1
def real_ns():
    ts = Timespec()
    libc.syscall(SYS_clock_gettime, CLOCK_MONOTONIC, ctypes.byref(ts))
    return ts.sec * 10**9 + ts.nsec
print("offset-ms %.1f" % ((time.clock_gettime_ns(time.CLOCK_MONOTONIC) - real_ns()) / 1e6), flush=True)
if sys.argv[1:] == ["timer"]:
    fd = libc.timerfd_create(CLOCK_MONOTONIC, 0)
    deadline = time.clock_gettime_ns(time.CLOCK_MONOTONIC) + 2 * 10**9
    spec = Itimerspec(Timespec(0, 0), Timespec(deadline // 10**9, deadline % 10**9))
    started = real_ns()
    assert libc.timerfd_settime(fd, TFD_TIMER_ABSTIME, ctypes.byref(spec), None) == 0
    import os, select
    if not select.select([fd], [], [], 10)[0]:
        print("timer never fired"); sys.exit(1)
    print("timer-real-s %.3f" % ((real_ns() - started) / 1e9))
PY

offset() { sed -n 's/^offset-ms //p' <<<"$1"; }
"$timewarp" "$ppm" python3 -c 'import time; time.sleep(60)' &
holder=$!
sleep 2  # the holder's clock is now 2 s ahead of any clock that starts from its own start
shared=$(offset "$("$timewarp" --clock-of "$holder" "$ppm" python3 "$probe")")
own=$(offset "$("$timewarp" "$ppm" python3 "$probe")")
echo "warped - real: $shared ms on the holder's clock, $own ms on a clock of its own"
# Two seconds at twice the speed: the holder's clock is 2000 ms further on than a fresh one.
awk -v a="$shared" -v b="$own" 'BEGIN { exit !(a - b > 1500 && a - b < 3000) }' ||
  { echo "FAIL: --clock-of did not run on the holder's clock"; exit 1; }

timer=$("$timewarp" "$ppm" python3 "$probe" timer) || true
echo "$timer" | tail -n 1
seconds=$(sed -n 's/^timer-real-s //p' <<<"$timer")
# 2 warped seconds are 1 real second; unconverted, the deadline would be 2 s off, or 50 years.
awk -v s="${seconds:-0}" 'BEGIN { exit !(s > 0.9 && s < 1.6) }' ||
  { echo "FAIL: the timer armed for 2 warped seconds took ${seconds:-forever} real seconds, not 1"; exit 1; }
echo "PASS"
