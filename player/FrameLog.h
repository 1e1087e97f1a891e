// SPDX-License-Identifier: MIT
// Every frame a player shows: its key (its play and time stamp in the programme, Programme::frameKey) and
// the CLOCK_MONOTONIC time at which it was shown. All processes of one machine share that clock, whatever
// clock a player plays on (a simulated drift included), so logs of different players compare directly.
//
// A log kept in memory grows with every frame; a player that plays for long streams its log to a file
// instead (streamTo), or only counts the frames, so that its memory stays flat.
#pragma once

#include <QFile>
#include <QTimer>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct ShownFrame
{
    enum Kind : char {
        Rendered = 'r',  // shown by the sink at its time on the clock while playing
        Held = 'h',      // shown at once on a pause or a step, and held
    };
    Kind kind = Rendered;
    qint64 key = 0;
    qint64 monoNs = 0;
    // When the sink handed the frame over, where that differs from monoNs: a window logs the instant its
    // frame was due (its figures leave out the X server's drawing), and the presentation figures need the
    // real time. Kept in memory only, never written to a log's file.
    qint64 handedNs = 0;
    qint64 shownNs() const { return handedNs != 0 ? handedNs : monoNs; }
};

class FrameLog
{
public:
    // Called from the streaming thread of the pipeline.
    void record(ShownFrame::Kind kind, qint64 key, qint64 monoNs, qint64 handedNs = 0);
    // The frames kept in memory: every one, unless the log streams.
    std::vector<ShownFrame> frames() const;
    // Frames recorded so far, streamed or not.
    qint64 count() const;

    // From now on the frames go to `path` (emptied first), written every second by a timer of the calling
    // thread's event loop and at flush(), and are not kept; with an empty path they are only counted. A
    // write that fails is told to `onError`. False, with `error` set, when the file cannot be written.
    bool streamTo(const QString& path, QString& error, std::function<void(const QString&)> onError = {});
    // Writes the frames recorded since the last flush to the stream's file. The streaming thread's owner.
    bool flush(QString& error);

    // From now on a copy of each frame recorded is kept for takeTapped() as well, whatever the log does
    // with it: a second reader (the presentation figures). At most kMaxTapped wait; beyond, none is kept.
    void startTap();
    // The frames recorded since the last call (or startTap), oldest first.
    std::vector<ShownFrame> takeTapped();
    static constexpr std::size_t kMaxTapped = 100000;

    // Reads a log that streamTo wrote, one frame a line: "<kind> <key> <mono-ns>". Lines that do not parse
    // are counted in `badLines` and skipped.
    static std::vector<ShownFrame> read(const QString& path, QString& error, int* badLines = nullptr);

    static qint64 monotonicNs();

private:
    mutable std::mutex m_mutex;        // the streaming thread records, the main thread reads
    std::vector<ShownFrame> m_frames;  // guarded by m_mutex: all of them, or those since the last flush
    qint64 m_count = 0;                // guarded by m_mutex
    bool m_streaming = false;          // guarded by m_mutex
    bool m_tapping = false;            // guarded by m_mutex
    std::vector<ShownFrame> m_tapped;  // guarded by m_mutex
    std::unique_ptr<QFile> m_file;     // main thread only; the stream's file, when there is one
    std::unique_ptr<QTimer> m_flushTimer;  // main thread only
};
