// SPDX-License-Identifier: MIT
// The `master` subcommand: a player that plays the programme itself and leads its slaves. Each command's
// instant is a margin ahead on this host's clock; the master carries it out at that instant too. A
// "[demo] session" line reports each step; the process exits 0 when every wait was met.
//
// Two kinds of run:
// - the session (a single --media): find the slaves, synchronise their clocks, prepare, start, seek,
//   pause, step, step back, resume, speed up to the end of the stream, and stop;
// - plain playback (--loop, --playlist or --for): the same readiness steps, then the programme from its
//   start, item after item and round after round, until --for has passed, the programme ends, or "quit",
//   SIGINT or SIGTERM stop it; every slave is stopped with it.
//
// The readiness steps retry what was lost and time out with a line that names the slaves that did not
// answer; the programme starts on the slaves that are ready. While it plays, the master searches for its
// slaves every second without emptying the roster: a slave that joins ("admit IP_PID" on the standard
// input), or whose program started again on its PC (same IP, new process id), is brought in (clock, prepare,
// a start on the master's time line); one that comes back on line after an outage gets the time line again.
#pragma once

#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
#include "RosterWatch.h"
#include "StdinLines.h"
#include "StopSignals.h"
#include "SyncedPlayback.h"

#include <gst/net/net.h>

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

class MasterPlayer
{
public:
    explicit MasterPlayer(PlayerOptions options);
    ~MasterPlayer();

    MasterPlayer(const MasterPlayer&) = delete;
    MasterPlayer& operator=(const MasterPlayer&) = delete;

    int exec();

private:
    bool runSession();
    bool playSession();
    bool playProgramme();
    bool findSlaves();
    // Starts clock synchronisation and waits until every slave of `keys` (every one of the roster when
    // empty) is synchronised.
    bool synchroniseClocks(const QStringList& keys = {});
    bool prepare();
    // Sends the programme and waits until every slave of `keys` (every one when empty) has prepared it.
    bool prepareSlaves(const QStringList& keys = {});
    // Brings slaves that are new to the roster onto the programme's time line; the others play on
    // undisturbed.
    bool bringIn(const QStringList& keys);
    // Sends a start (or, while paused, a seek that holds) at where the programme is at its instant: a no-op
    // for the slaves already on the time line.
    bool putOnTimeline();
    // Sends `command` with its instant a margin ahead, and carries it out here at that instant. A start
    // with a negative position starts where the programme is at the instant.
    bool command(SyncCommand::Kind kind, qint64 positionNs = 0, bool playOn = true, double rate = 1.0);
    bool sendCommand(SyncCommand& sync);
    bool playToEndAndComplete();
    // Lets `ms` pass with the event loop running, looking after the roster meanwhile; returns early when a
    // stop is asked for.
    void hold(int ms);
    // Runs the event loop until `done` or `timeoutMs`; false on time-out.
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    void lookAfterRoster();
    // The keys among `keys` (every one of the roster when empty) whose entries do not all meet `met`.
    QStringList lagging(const QStringList& keys, bool NetControlNS::struAddress::*met);
    QStringList rosterKeys();
    bool step(const char* name, bool met, const QString& detail);
    void requestStop();

    const PlayerOptions m_options;
    HostClock m_clock;
    FrameLog m_log;
    SyncedPlayback m_playback;  // main thread only
    GstClock* m_pipelineClock = nullptr;
    GstNetTimeProvider* m_clockProvider = nullptr;
    NetControlNS::slaveControlCbk m_callbacks;
    std::unique_ptr<NetControlThread> m_net;
    Programme m_programme;         // main thread
    bool m_ended = false;          // main thread: this player reached the end of the programme
    qint64 m_lastCommandId = 0;    // main thread
    QStringList m_pendingKeys;     // main thread: admitted on standard input, not brought in yet
    bool m_joining = false;        // main thread: bringing slaves in
    bool m_started = false;        // main thread: the programme or the session has begun
    bool m_stopRequested = false;  // main thread
    RosterWatch m_rosterWatch;     // main thread
    QElapsedTimer m_sinceSearch;   // main thread: since the last search for slaves
    StdinLines m_input;
    StopSignals m_stopSignals;
};
