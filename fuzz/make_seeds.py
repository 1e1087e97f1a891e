#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpus of fuzz_receive_path: one valid datagram per message code, each behind the
two-byte prefix that picks the receiving role with its options, and the sender (see ReceivePathRig.h)."""
import os
import struct

GROUP, PROCESS_ID = 7, 4242
ROLE_SLAVE, ROLE_MASTER = 0, 1
ACKNOWLEDGED_DELIVERY, RECOVERY, HEALTH_REPORTS = 0x04, 0x08, 0x10  # option bits of the role byte
FROM_MASTER, FROM_ADMITTED_SLAVE = 1, 2  # 127.0.0.2 and 127.0.0.3, port 9

def datagram(code, layer, payload=b"", user_data=b"", seq=1):
    header = struct.pack("<IIHHHhHHHH", 0x55CC55CC, PROCESS_ID, code, 0x0100, GROUP, layer, seq,
                         len(payload), len(user_data), 0)
    return header + payload + user_data

doubles = lambda *values: struct.pack("<" + "d" * len(values), *values)
seek = struct.pack("<q?7xd", 90000, True, 1.5)
acknowledgement = lambda seq, code: struct.pack("<HH", seq, code)
# Replies are stamped on receipt with the rig's fixed host clock (ReceivePathRig::kEndpointClockUs); these
# stamps make a delay of 450 us (a sample that is taken) and of 1350 us (one that is discarded as slow).
CLOCK = 5_000_000_000
def reply_stamps(master_sent_before_us):
    return struct.pack("<qqqq", CLOCK - 800, CLOCK - master_sent_before_us, CLOCK - 1000, 0)

SEEDS = {
    "200-report-prepared": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(200, 0)),
    "201-report-partner": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(201, 0)),
    "202-clock-sync-request": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(202, -1, bytes(32))),
    "203-clock-prepared": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(203, -1)),
    "204-complete": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(204, 0)),
    "205-heartbeat": (ROLE_MASTER, FROM_ADMITTED_SLAVE, datagram(205, -1)),
    "206-heartbeat-reply": (ROLE_SLAVE, FROM_MASTER, datagram(206, -1)),
    "207-command-ack": (ROLE_MASTER | ACKNOWLEDGED_DELIVERY, FROM_ADMITTED_SLAVE,
                        datagram(207, -1, acknowledgement(1, 301))),
    "208-health-report": (ROLE_MASTER | HEALTH_REPORTS, FROM_ADMITTED_SLAVE,
                          datagram(208, -1, struct.pack("<HHBBHdddHHIqqII", 1, 70, 0x0F, 6, 301, -12.5, 3.25, 4.0,
                                                        7, 0, 2, 150, 900, 300, 1) + b"screen")),
    "300-find-partner": (ROLE_SLAVE, FROM_MASTER, datagram(300, -1)),
    "301-start": (ROLE_SLAVE, FROM_MASTER, datagram(301, 0, doubles(1.25, -7.5), b"abc")),
    "302-pause": (ROLE_SLAVE, FROM_MASTER, datagram(302, 0, doubles(3.0), b"abc")),
    "303-stop": (ROLE_SLAVE, FROM_MASTER, datagram(303, 0, doubles(9.75), b"abc")),
    "304-prepare": (ROLE_SLAVE, FROM_MASTER, datagram(304, 0, b"", b"abc")),
    "305-seek": (ROLE_SLAVE, FROM_MASTER, datagram(305, 0, seek, b"abc")),
    "307-clock-sync-reply": (ROLE_SLAVE, FROM_MASTER, datagram(307, -1, reply_stamps(700))),
    "307-clock-sync-reply-slow": (ROLE_SLAVE, FROM_MASTER, datagram(307, -1, reply_stamps(2500))),
    "308-start-clock-sync": (ROLE_SLAVE, FROM_MASTER, datagram(308, -1)),
    "309-stop-clock-sync": (ROLE_SLAVE, FROM_MASTER, datagram(309, -1)),
    "310-speed": (ROLE_SLAVE, FROM_MASTER, datagram(310, 0, doubles(1.5), b"abc")),
    "311-step": (ROLE_SLAVE, FROM_MASTER, datagram(311, 0, b"", b"abc")),
    "312-step-back": (ROLE_SLAVE, FROM_MASTER, datagram(312, 0, b"", b"abc")),
    "313-report-ack": (ROLE_SLAVE | ACKNOWLEDGED_DELIVERY, FROM_MASTER, datagram(313, -1, acknowledgement(1, 200))),
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")
    os.makedirs(folder, exist_ok=True)
    for name, (role, sender, body) in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(bytes([role, sender]) + body)
