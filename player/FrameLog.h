// SPDX-License-Identifier: MIT
// Every frame a player shows: its time stamp and the CLOCK_MONOTONIC time at which it was shown. All
// processes of one machine share that clock, so logs of different players compare directly.
#pragma once

#include <QString>
#include <QtGlobal>

#include <mutex>
#include <vector>

struct ShownFrame
{
    enum Kind : char {
        Rendered = 'r',  // shown by the sink at its time on the clock while playing
        Held = 'h',      // shown at once on a pause or a step, and held
    };
    Kind kind = Rendered;
    qint64 ptsNs = 0;
    qint64 monoNs = 0;
};

class FrameLog
{
public:
    // Called from the streaming thread of the pipeline.
    void record(ShownFrame::Kind kind, qint64 ptsNs, qint64 monoNs);
    std::vector<ShownFrame> frames() const;

    // One frame a line: "<kind> <pts-ns> <mono-ns>". False, with `error` set, when the file cannot be written.
    bool write(const QString& path, QString& error) const;
    // Reads what write() wrote; lines that do not parse are counted in `badLines` and skipped.
    static std::vector<ShownFrame> read(const QString& path, QString& error, int* badLines = nullptr);

    static qint64 monotonicNs();

private:
    mutable std::mutex m_mutex;        // the streaming thread records, the main thread reads
    std::vector<ShownFrame> m_frames;  // guarded by m_mutex
};
