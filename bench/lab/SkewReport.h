// SPDX-License-Identifier: MIT
// The figures of one played session, as a table for people and as JSON for scripts.
#pragma once

#include "SkewStats.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct PlayerRow
{
    QString name;
    int commands = 0;                     // master: sent; slave: received
    std::optional<qint64> injectedUs;     // slave: its host clock's offset against the master's
    std::optional<qint64> foundUs;        // slave: the library's latest estimate of it
    double driftPpm = 0;                  // slave: how fast its simulated oscillator ran
    std::optional<SkewFigures> skew;      // slave: against the master
    double sameFrameShare = 0;            // against the master (the master's own: 1)
    int frames = 0;
    bool realtime = false;                // its frames were shown by a thread at real-time priority
};

struct SessionReport
{
    QString title;     // "library clock", "control: offsets ignored", "GStreamer net clock"
    QString mode;      // "library", "control", "gstreamer-net"
    bool waitsMet = false;
    std::vector<PlayerRow> rows;  // the master first
    SkewFigures pooled;           // every slave's frames together
    double allSameShare = 0;      // every player at once
    std::vector<SkewBin> bins;    // every 10 s of the master's frames (a long programme)
    SkewFigures masterSpacing;    // a long programme: the master's own frame spacing (SkewBin::masterSpacingP99Us)
    qint64 wakeNoiseUs = 0;       // any programme: the worst player's SkewStats::wakeNoiseP99Us
    LoopFigures loops;            // a long programme: where it goes from one play to the next

    QStringList tableLines() const;
    QJsonObject toJson() const;
    // One line: the pooled figures and the share.
    QString summaryLine() const;
    // Lines on the bins: the worst of them, for a long programme.
    QStringList binLines() const;
};
