// SPDX-License-Identifier: MIT
// A recording of a sound server's source by parec or pw-record (signed 16-bit, interleaved channels, raw
// on standard output), read by a thread of its own that notes the monotonic time at which each block arrives: what puts the recording on the clock
// that the players' frame logs use (see RecordingClock).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <QString>

struct RecordedBlock
{
    std::int64_t arrivedNs = 0;  // monotonic, when the read returned
    std::int64_t framesAfter = 0;  // frames recorded up to and with this block
};

struct Recording
{
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::vector<RecordedBlock> blocks;
};

// The longest time between two blocks of `recording` (ms): the server or the recorder stalled for as long.
double longestGapMs(const Recording& recording);

class SoundRecorder
{
public:
    // Starts the recorder `command` (words, the first a program on PATH) that writes `channels` of `rate`;
    // throws std::runtime_error when it cannot.
    SoundRecorder(const std::vector<std::string>& command, int rate, int channels);
    // Stops the recorder if it still runs.
    ~SoundRecorder();

    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // Ends the recording and returns it.
    Recording stop();

    // parec on `source` of the PulseAudio server at `pulseServer`, channels aux0 onwards (as PrivatePulse
    // names them).
    static std::vector<std::string> parec(const QString& pulseServer, const QString& source, int rate, int channels);
    // pw-record on the monitor of the sink `node` of the PipeWire whose sockets are in `runtimeDir`, mono.
    static std::vector<std::string> pwRecord(const QString& runtimeDir, const QString& node, int rate);

private:
    void readUntilEnd(int fd);

    pid_t m_pid = -1;
    std::thread m_reader;
    // Written by the reader thread, read by the driver once the reader has ended (joined): no lock.
    Recording m_recording;
};
