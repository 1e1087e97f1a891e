// SPDX-License-Identifier: MIT
// The `slave` subcommand: a player that plays what the master prepares and carries out its commands at
// the master's instants, converted to its own clock with the latest clock offset. It prints a "[demo]"
// line for each command and offset, reports prepared once prerolled and complete at the end of the
// stream, and writes the frames it showed when it quits ("quit" or the end of its input).
#pragma once

#include "CommandData.h"
#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
#include "StdinLines.h"
#include "SyncedPlayback.h"

#include <atomic>
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

    void prepare(const CommandData& data);
    void carryOut(const SyncCommand& command);
    qint64 toClockNs(double masterHostUs) const;
    void finish();

    const PlayerOptions m_options;
    HostClock m_clock;
    FrameLog m_log;
    SyncedPlayback m_playback;         // main thread only
    std::atomic<qint64> m_offsetUs{0};   // slave minus master; written by the library's worker, read by main
    QObject m_mainContext;             // queued work for the main thread is dropped once it is gone
    NetControlNS::slaveControlCbk m_callbacks;
    std::unique_ptr<NetControlThread> m_net;
    StdinLines m_input;
    bool m_finished = false;           // main thread only
    QString m_openUri;                 // main thread only: what the pipeline plays
};
