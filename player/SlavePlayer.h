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
#pragma once

#include "CommandData.h"
#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
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
    void printClockOffset(double meanSeconds) const;

    void prepare(const SyncCommand& command);
    void carryOut(const SyncCommand& command);
    void finish();

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
};
