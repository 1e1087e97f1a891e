// SPDX-License-Identifier: MIT
// How a player's frames met their instants, for its health reports (MultiNetControl::setPresentation):
// each frame's lateness, the time it was shown minus the instant its time line made it due, over the last
// 10 s (median and 99th percentile), and the frames shown and dropped since the programme was prepared.
// A frame dropped is one its time line made due and the sink never showed: a gap between two frames of one
// time line. Main thread only.
#pragma once

#include <MultiNetControl.h>

#include <QtGlobal>

#include <deque>
#include <optional>

class PresentationMeter
{
public:
    static constexpr qint64 kWindowNs = 10LL * 1000000000LL;

    // Counts from nothing again (a programme prepared).
    void reset();
    // A frame shown at `monoNs` (CLOCK_MONOTONIC). A frame shown on its time line has its lateness (shown
    // minus due, in ns), its time line and its index along it; others (held on a pause or a step, or of a
    // time line not known) are only counted.
    void add(qint64 monoNs, std::optional<qint64> lateNs = std::nullopt, qint64 line = 0, qint64 index = 0);
    // The figures at `nowMonoNs`: lateness over the window before it.
    NetControlNS::struPresentation figures(qint64 nowMonoNs);

private:
    struct Sample
    {
        qint64 monoNs;
        qint64 lateNs;
    };
    std::deque<Sample> m_samples;  // the newest last
    quint32 m_shown = 0;
    quint32 m_dropped = 0;
    qint64 m_lastLine = 0;
    qint64 m_lastIndex = 0;
};
