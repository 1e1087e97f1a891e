// SPDX-License-Identifier: MIT
// The `slave` subcommand: a player that plays what the master prepares and carries out its commands at
// the master's instants, on a pipeline clock that follows the master's time line (SlaveClock). It prints
// a "[demo]" line for each command and offset, reports prepared once prerolled and complete at the end of
// the programme, streams the frames it shows to its frame log, and ends on "quit", at the end of its
// input, or on SIGINT or SIGTERM.
//
// It rides out a lossy network and a master that starts again: the library repeats what was lost
// (acknowledged delivery) and follows the master's new address (recovery), and each command of a master's
// run is applied once and in order (AppliedCommands).
//
// Its screen may be trimmed (--trim-ms, or a trim command from the master for its key): every frame is
// then shown that much later (earlier) than the common instant. About once a second it hands its health
// to the library (option HealthReports), which reports it to the master: how late its frames were over the
// last 10 s, the frames shown and dropped since the programme was prepared (PresentationMeter), and a text
// (healthText).
#pragma once

#include "CommandData.h"
#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
#include "PresentationMeter.h"
#include "SlaveClock.h"
#include "StdinLines.h"
#include "StopSignals.h"
#include "SyncedPlayback.h"

#include <QTimer>

#include <memory>

class SlavePlayer
{
public:
    explicit SlavePlayer(PlayerOptions options);
    ~SlavePlayer();

    SlavePlayer(const SlavePlayer&) = delete;
    SlavePlayer& operator=(const SlavePlayer&) = delete;

    int exec();

private:
    NetControlNS::slaveControlCbk makeCallbacks();
    // The "received" line of a command, printed on the library's thread as the command arrives.
    void printReceived(const char* name, const CommandData& data) const;
    void printIgnored(const SyncCommand& command, const QString& reason) const;
    void printClockOffset(double meanSeconds) const;

    void prepare(const SyncCommand& command);
    void carryOut(const SyncCommand& command);
    // A trim from the master: applied when it names this slave's key.
    void trim(const SyncCommand& command);
    void finish();
    // This slave's key, "ip_pid", as its master knows it.
    QString key() const;

    // The text of this slave's health reports: its label, and the video decoder in use once a programme is
    // prepared, "label (avdec_h264)". The library sends at most 64 bytes of it.
    QString healthText();
    // Takes the frames shown since the last time into the presentation figures; hands the figures and the
    // text to the library.
    void measurePresentation();

    const PlayerOptions m_options;
    HostClock m_clock;
    FrameLog m_log;
    SyncedPlayback m_playback;         // main thread only
    QObject m_mainContext;             // queued work for the main thread is dropped once it is gone
    NetControlNS::slaveControlCbk m_callbacks;
    // Made before the control object, whose callbacks reach it; it asks the control object for estimates
    // only once a pipeline runs on it.
    SlaveClock m_pipelineClock;        // main thread only (its mean offset: any thread)
    std::unique_ptr<NetControlThread> m_net;
    AppliedCommands m_applied;         // main thread only
    StdinLines m_input;
    StopSignals m_stopSignals;
    bool m_finished = false;           // main thread only
    PresentationMeter m_meter;         // main thread only
    QTimer m_measureTimer;             // main thread only
    // The pipeline's clock and CLOCK_MONOTONIC read together at the last measure: a frame shown since is
    // placed on the clock between that reading and the next. Main thread only.
    GstClock* m_measuredClock = nullptr;  // not owned; only compared
    qint64 m_measuredClockNs = -1;
    qint64 m_measuredMonoNs = -1;
};
