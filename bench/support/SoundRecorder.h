// SPDX-License-Identifier: MIT
// A recording of a PulseAudio source by parec (signed 16-bit, interleaved channels), read by a thread of
// its own that notes the monotonic time at which each block arrives: what puts the recording on the clock
// that the players' frame logs use (see RecordingClock).
#pragma once

#include <sys/types.h>

#include <cstdint>
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

class SoundRecorder
{
public:
    // Starts parec on `source` of the server at `pulseServer`, channels aux0 onwards (as PrivatePulse names
    // them); throws std::runtime_error when it cannot.
    SoundRecorder(const QString& pulseServer, const QString& source, int rate, int channels);
    // Stops the recorder if it still runs.
    ~SoundRecorder();

    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // Ends the recording and returns it.
    Recording stop();

private:
    void readUntilEnd(int fd);

    pid_t m_pid = -1;
    std::thread m_reader;
    // Written by the reader thread, read by the driver once the reader has ended (joined): no lock.
    Recording m_recording;
};
