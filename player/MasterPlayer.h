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
// The library tells of each (setSlaveEventHandler: joined, went off line, came back) on its own threads;
// the events are handed to the main thread, which waits on them rather than polling the roster. Only the
// slaves' readiness (clock synchronised, prepared, complete), which no event tells, is asked for
// (getSlavesNotReady) while a step waits for it.
//
// Every slave reports its health (option HealthReports); "health" on the standard input prints what the
// master last heard, one line a slave. Standard input also takes what an operator does (see the public
// members): "play", "pause", "seek SECONDS", "next", "trim IP_PID MS".
#pragma once

#include "FrameLog.h"
#include "HostClock.h"
#include "NetControlThread.h"
#include "PlayerOptions.h"
#include "SlaveAdmission.h"
#include "StdinLines.h"
#include "StopSignals.h"
#include "SyncedPlayback.h"
#include "operator/OperatorConsole.h"

#include <gst/net/net.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

class MasterPlayer
{
public:
    explicit MasterPlayer(PlayerOptions options);
    ~MasterPlayer();

    MasterPlayer(const MasterPlayer&) = delete;
    MasterPlayer& operator=(const MasterPlayer&) = delete;

    int exec();

    // What an operator does while the programme plays, on the main thread (a command's instant is a margin
    // ahead, and the master carries it out too). False when it was not sent, or not carried out here; each
    // prints the "sent" line and a "[demo] session" line, as the session's steps do (setTrim: "sent" only).
    // Plays on from where the programme stands (after a pause: from the frame it holds).
    bool play();
    // Holds the frame shown at the instant.
    bool pause();
    // Goes to `positionNs` in the item that plays now, playing on or held as the programme was.
    bool seek(qint64 positionNs);
    // Goes to the first frame of the next item (the programme's first again past the end of one that
    // loops), playing on or held as the programme was; false past the end of one that does not.
    bool nextItem();
    // Ends the programme: every slave is stopped with the master, which then exits (as "quit").
    void stop() { requestStop(); }
    // The operator's stop: every player stops at the instant, and the show waits for play, which prepares
    // the programme again and plays it from its start, or for quit.
    bool stopProgramme();
    // Trims one screen: the slave of `key` ("ip_pid") shows its frames `ms` later (negative: earlier, down
    // to the margin less 50 ms) than the common instant, from its next frames on. False, with an error
    // line, for a trim out of bounds or a key the roster does not hold.
    bool setTrim(const QString& key, int ms);

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
    // with a negative position starts where the programme is at the instant. The position lies in `play`
    // (-1: the play of the programme's time line).
    bool command(SyncCommand::Kind kind, qint64 positionNs = 0, bool playOn = true, double rate = 1.0, qint64 play = -1);
    // The host time a command sent now takes effect at: a margin ahead.
    qint64 commandInstantUs() const;
    // The play the programme is in at `clockNs` on the pipeline's clock.
    qint64 playAt(qint64 clockNs);
    bool sendCommand(SyncCommand& sync);
    bool playToEndAndComplete();
    // Lets `ms` pass with the event loop running, looking after the roster whenever an event asks for it;
    // returns early when a stop is asked for.
    void hold(int ms);
    // Runs the event loop until `done` (asked at each wake-up) or `timeoutMs`; false on time-out or a stop.
    // `pollMs` > 0 also asks every pollMs: for the slaves' readiness, which no event tells.
    bool waitFor(const std::function<bool()>& done, int timeoutMs, int pollMs = 0);
    // Ends the innermost wait's pass of the event loop, so that it asks its `done` again.
    void wake();
    // On the main thread: a slave event the library told on its own thread.
    void takeSlaveEvent(NetControlNS::SlaveEvent event, const QString& key);
    // Once the programme has started: admits the slaves named on the standard input, tells of slaves that
    // went off line or came back, and brings in the new ones.
    void lookAfterRoster();
    bool rosterNeedsCare() const;
    // The keys among `keys` (every one of the roster when empty) of roster entries that have not reported `what`.
    QStringList notReady(NetControlNS::Readiness what, const QStringList& keys = {});
    QStringList rosterKeys();
    void onInputLine(const QString& line);
    void printHealth();
    bool step(const char* name, bool met, const QString& detail);
    void requestStop();

    const PlayerOptions m_options;
    HostClock m_clock;
    FrameLog m_log;
    SyncedPlayback m_playback;  // main thread only
    GstClock* m_pipelineClock = nullptr;
    GstNetTimeProvider* m_clockProvider = nullptr;
    NetControlNS::slaveControlCbk m_callbacks;
    QObject m_mainContext;         // queued work for the main thread is dropped once it is gone
    std::unique_ptr<NetControlThread> m_net;
    Programme m_programme;         // main thread
    bool m_ended = false;          // main thread: this player reached the end of the programme
    qint64 m_lastCommandId = 0;    // main thread
    bool m_lastStepWasTrim = false;  // main thread: what the operator's page names a screen's last step
    const qint64 m_run = AppliedCommands::wallClockMs();  // this run: its wall clock at the start, ms since 1970
    QStringList m_pendingKeys;     // main thread: admitted on standard input, not brought in yet
    bool m_joining = false;        // main thread: bringing slaves in
    bool m_started = false;        // main thread: the programme or the session has begun
    bool m_stopRequested = false;  // main thread
    QSet<QString> m_known;         // main thread: slaves found, or brought in since
    QSet<QString> m_offLine;       // main thread: slaves off line, as the events say
    QSet<QString> m_toldOffLine;   // main thread: slaves whose going off line was printed
    // Main thread: the slave events not looked after yet (lookAfterRoster), oldest first.
    std::deque<std::pair<NetControlNS::SlaveEvent, QString>> m_slaveEvents;
    QEventLoop* m_waiting = nullptr;  // main thread: the innermost wait's event loop
    QTimer m_searchTimer;          // main thread: the search for slaves every second while the programme plays
    SlaveAdmission m_admission{m_options.slaveIps};  // main thread: admits the processes of the IPs --slaves lists
    StdinLines m_input;
    StopSignals m_stopSignals;
    std::unique_ptr<OperatorConsole> m_operator;  // main thread: with --operator, the page the show is steered from
};
