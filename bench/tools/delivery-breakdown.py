#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Where a command's time goes on its way from the master's notifySlaveStart to the slave's callback.

Runs one master and one slave (tamo_bench roles, 127.0.0.1 and 127.0.0.2) under `perf record` with
CLOCK_MONOTONIC time stamps, so that the kernel's trace points (system calls, wake-ups, context switches)
line up with the stamps that the roles take themselves. For each command it finds, in order, the first
event of each stage after the previous one and prints the time between them (p50, mean, p99).
Needs root and perf (Debian: linux-perf). Tracing adds a few microseconds to each stage.

    bench/tools/delivery-breakdown.py [--bench build/bench-release/bench/tamo_bench] [--commands 1500]
"""
import argparse
import bisect
import random
import re
import signal
import socket
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

TRACEPOINTS = ["syscalls:sys_enter_sendto", "syscalls:sys_exit_poll", "syscalls:sys_exit_recvmsg",
               "syscalls:sys_enter_futex", "syscalls:sys_exit_futex", "syscalls:sys_enter_write",
               "sched:sched_wakeup", "sched:sched_switch"]


def free_port():
    for _ in range(200):
        port = random.randint(47000, 47999)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            try:
                probe.bind(("0.0.0.0", port))
                return port
            except OSError:
                pass
    raise SystemExit("no free port in 47000-47999")


class Role:
    def __init__(self, bench, args):
        self.process = subprocess.Popen([bench, "--role", "library-node"] + args, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = []

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def wait_for(self, tag):
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise SystemExit("role ended before '%s'" % tag)
            fields = line.split()
            self.lines.append(fields)
            if fields and fields[0] == tag:
                return

    def stop(self):
        self.send("stop")
        self.wait_for("done")
        self.process.wait()


def record(bench, commands, data):
    port = str(free_port())
    slave = Role(bench, ["--slave", "--ip", "127.0.0.2", "--port", port, "--master-ip", "127.0.0.1",
                         "--commands", str(commands)])
    slave.wait_for("ready")
    master = Role(bench, ["--master", "--ip", "127.0.0.1", "--port", port, "--commands", str(commands),
                          "--interval-us", "2000"])
    master.wait_for("ready")
    events = [arg for point in TRACEPOINTS for arg in ("-e", point)]
    # System-wide: on an idle CPU a wake-up is carried out by that CPU itself, outside both processes.
    perf = subprocess.Popen(["perf", "record", "-q", "-k", "CLOCK_MONOTONIC", "-o", data, "-a"] + events,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    master.send("go")
    master.wait_for("actions-done")
    time.sleep(0.3)
    perf.send_signal(signal.SIGINT)
    perf.wait()
    master.stop()
    slave.stop()
    sent = {int(f[1]): int(f[2]) for f in master.lines if f[0] == "sent"}
    arrived = {int(f[1]): int(f[2]) for f in slave.lines if f[0] == "arrival"}
    return master.process.pid, slave.process.pid, sent, arrived


def read_events(data):
    text = subprocess.run(["perf", "script", "-i", data, "--ns", "-F", "pid,tid,time,event,trace"],
                          capture_output=True, text=True, check=True).stdout
    events = []
    for line in text.splitlines():
        parts = line.split(None, 3)
        if len(parts) < 3:
            continue
        pid, tid = map(int, parts[0].split("/"))
        seconds, nanos = parts[1].rstrip(":").split(".")
        events.append((int(seconds) * 10**9 + int(nanos), pid, tid, parts[2].rstrip(":").split(":")[-1],
                       parts[3] if len(parts) > 3 else ""))
    events.sort()
    return events


def stages(master_pid, slave_pid, worker_tid):
    def syscall(tid_or_pid, name, by_pid=False):
        return lambda e: (e[1] if by_pid else e[2]) == tid_or_pid and e[3] == name

    def woken(tid):
        return lambda e: e[3] == "sched_wakeup" and re.search(r"\bpid=%d\b" % tid, e[4])

    def on_cpu(tid):
        return lambda e: e[3] == "sched_switch" and re.search(r"next_pid=%d\b" % tid, e[4])

    return [
        ("master: sendto entered", syscall(master_pid, "sys_enter_sendto", by_pid=True)),
        ("slave reader thread woken", woken(slave_pid)),
        ("slave reader thread on a CPU", on_cpu(slave_pid)),
        ("slave reader: poll() returns", syscall(slave_pid, "sys_exit_poll")),
        ("slave reader: queue peeked", syscall(slave_pid, "sys_exit_recvmsg")),
        ("slave reader: datagram read", syscall(slave_pid, "sys_exit_recvmsg")),
        ("slave reader: queues it, wakes worker", syscall(slave_pid, "sys_enter_futex")),
        ("worker woken", woken(worker_tid)),
        ("worker on a CPU", on_cpu(worker_tid)),
        ("worker: wait returns", syscall(worker_tid, "sys_exit_futex")),
    ]


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, int(fraction * len(ordered) + 0.5) - 1))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", default="build/bench-release/bench/tamo_bench")
    parser.add_argument("--commands", type=int, default=1500)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        data = str(Path(scratch) / "delivery.data")
        master_pid, slave_pid, sent, arrived = record(options.bench, options.commands, data)
        events = read_events(data)
    # The worker is the slave's thread that waits on the task queue's condition variable most often.
    waiters = [e[2] for e in events if e[1] == slave_pid and e[2] != slave_pid and e[3] == "sys_exit_futex"]
    worker_tid = max(set(waiters), key=waiters.count)
    path = stages(master_pid, slave_pid, worker_tid)
    names = [name for name, _ in path] + ["log line, host callback (bench stamp)"]
    times = [e[0] for e in events]
    deltas = {name: [] for name in names}
    totals = []
    stopped_before = {}  # stage a command found no event for -> count
    for index, start in sorted(sent.items()):
        end = arrived.get(index)
        if end is None:
            continue
        row, previous = [], start
        for _, matches in path:
            position = bisect.bisect_right(times, previous)
            while position < len(events) and events[position][0] <= end and not matches(events[position]):
                position += 1
            if position == len(events) or events[position][0] > end:
                break  # the thread was already awake or on a CPU: this command has no such event
            row.append(events[position][0] - previous)
            previous = events[position][0]
        if len(row) < len(path):
            stage = path[len(row)][0]
            stopped_before[stage] = stopped_before.get(stage, 0) + 1
            continue
        row.append(end - previous)
        for name, delta in zip(names, row):
            deltas[name].append(delta / 1000)
        totals.append((end - start) / 1000)
    print("commands with every stage: %d of %d sent" % (len(totals), len(sent)))
    for stage, count in sorted(stopped_before.items(), key=lambda item: -item[1]):
        print("  without an event for '%s' (that thread was awake or on a CPU already): %d" % (stage, count))
    print("%-40s %9s %9s %9s" % ("stage (time since the previous one)", "p50 us", "mean us", "p99 us"))
    for name in names:
        values = deltas[name]
        print("%-40s %9.1f %9.1f %9.1f" % (name, percentile(values, 0.5), statistics.mean(values),
                                           percentile(values, 0.99)))
    print("%-40s %9.1f %9.1f %9.1f" % ("notifySlaveStart call to callback", percentile(totals, 0.5),
                                       statistics.mean(totals), percentile(totals, 0.99)))


if __name__ == "__main__":
    main()
