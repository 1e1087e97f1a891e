#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The onsets of the ticks in a raw recording (signed 16-bit little-endian, interleaved channels), as
# `make-clip --audio` makes them: a burst of tone after at least half a second of silence. Prints one line
# per channel, "ch<N> t1 t2 ...", the onsets in seconds from the recording's first sample, to the sample.
# usage: tick_onsets.py FILE RATE CHANNELS
import array
import sys

THRESHOLD = 3000        # of 32767: the tick is at 0.8 of full scale, its tone passes this within 2 % of a period
QUIET_SECONDS = 0.5     # the silence before an onset; a tick lasts 10 ms, ticks are a second apart


def onsets(samples, rate):
    quiet_needed = int(QUIET_SECONDS * rate)
    quiet, found = quiet_needed, []  # the recording may begin in silence
    for index, sample in enumerate(samples):
        if abs(sample) >= THRESHOLD and quiet >= quiet_needed:
            found.append(index / rate)
        quiet = quiet + 1 if abs(sample) < THRESHOLD else 0
    return found


if len(sys.argv) != 4:
    sys.exit("usage: tick_onsets.py FILE RATE CHANNELS")
rate, channels = int(sys.argv[2]), int(sys.argv[3])
samples = array.array("h")
with open(sys.argv[1], "rb") as recording:
    data = recording.read()
samples.frombytes(data[: len(data) // (2 * channels) * (2 * channels)])  # a recorder stopped mid-frame
if sys.byteorder != "little":
    samples.byteswap()
for channel in range(channels):
    print("ch%d" % channel, " ".join("%.6f" % t for t in onsets(samples[channel::channels], rate)))
