// SPDX-License-Identifier: MIT
// The `master` subcommand: a player that plays the media itself and leads its slaves through one
// session: find them, synchronise their clocks, prepare, start, seek, pause, step, step back, resume,
// speed up to the end of the stream, and stop. Each command's instant is a margin ahead on this host's
// clock; the master carries it out at that instant too. A "[demo] session" line reports each step; the
// process exits 0 when every wait was met.
#pragma once

#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
#include "StdinLines.h"
#include "SyncedPlayback.h"

#include <gst/net/net.h>

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
    bool findSlaves();
    // Starts clock synchronisation and waits until every slave, or only the slaves with `newKeys` (a
    // search made the others' entries anew, and they report their synchronisation only once), are synchronised.
    bool synchroniseClocks(const QStringList& newKeys = {});
    bool prepare();
    bool prepareSlaves();
    // Admits the slaves named on standard input ("admit KEY"), brings them up and onto the programme's
    // time line; the others play on undisturbed.
    bool join();
    // Sends `command` with its instant a margin ahead, and carries it out here at that instant. A start
    // with a negative position starts where the programme is at the instant.
    bool command(SyncCommand::Kind kind, qint64 positionNs = 0, bool playOn = true, double rate = 1.0);
    bool playToEndAndComplete();
    // Lets `ms` pass with the event loop running; slaves admitted meanwhile join at once.
    void hold(int ms);
    bool step(const char* name, bool met, const QString& detail);

    const PlayerOptions m_options;
    HostClock m_clock;
    FrameLog m_log;
    SyncedPlayback m_playback;  // main thread only
    GstClock* m_pipelineClock = nullptr;
    GstNetTimeProvider* m_clockProvider = nullptr;
    NetControlNS::slaveControlCbk m_callbacks;
    std::unique_ptr<NetControlThread> m_net;
    bool m_ended = false;  // main thread: this player reached the end of the stream
    int m_nextTag = 1;
    QSet<QString> m_admitted;      // main thread: the roster's keys
    QStringList m_pendingKeys;     // main thread: admitted on standard input, not joined yet
    bool m_joining = false;        // main thread
    QString m_uri;                 // main thread: what the session plays
    StdinLines m_input;
};
