// SPDX-License-Identifier: MIT
// The players' convention for what a command means on the wire: which frame and at which instant. The
// user data is version 1 of the players' format: words "key=value" separated by blanks (CommandData).
//
// Every command carries
//   v=1         the format's version
//   run=<ms>    the master's run: its wall clock in milliseconds since 1970 when it started, so that a
//               master that starts again has a later run whatever its process id; a slave follows the
//               latest run it has seen and never goes back to an earlier one
//   cmd=<n>     the command's number in its run, from 1 up: a slave applies each number once, and never
//               one older than the last it applied (a repeat, or a copy that came late, is left out), nor
//               one more than AppliedCommands::kMostAhead past it
// and, where a position is meant,
//   play=<k>    the play of the programme the position is in (Programme; 0 when absent)
//
// Instants are times of the master's host clock in microseconds; positions are positions in the play's
// item in microseconds (start carries seconds), snapped by every receiver to the frame that shows there.
//   prepare    items=<n> loop=<0|1> uri0=<URI> ... uri<n-1>=<URI>   (the programme: at most kMostItems
//              items, at most kMostProgrammeBytes bytes of URIs)
//   start      first = position in seconds, second = instant
//   pause      value = instant;             pos=<position>
//   seek       position = position, flag = play on after the seek, value = instant
//   speed      speed = rate;                 at=<instant> pos=<position>
//   step       at=<instant> pos=<position of the frame to show>
//   stepback   as step
//   stop       value = instant
//   trim       kind=trim key=<ip_pid> trim-us=<n>   (one screen's trim, from its next frames on)
//
// A trim rides on the library's step (notifySlaveStep), which carries nothing of its own: a player that
// knows no trim reads it as a step without `at` and `pos` and ignores it with a line, so the format stays
// version 1. Only the slave whose key it names applies it; every other one leaves it.
#pragma once

#include "CommandData.h"
#include "Programme.h"

#include <QByteArray>
#include <QString>

#include <MultiNetControl.h>

#include <functional>
#include <optional>

struct SyncCommand
{
    enum Kind { Start, Pause, Seek, Speed, Step, StepBack, Stop, Prepare, Trim };
    static constexpr int kFormatVersion = 1;
    // A prepare naming more items, or more bytes of URIs, is left out (a datagram holds 4 KB anyway).
    static constexpr qint64 kMostItems = 1000;
    static constexpr qint64 kMostProgrammeBytes = 4096;

    Kind kind = Start;
    qint64 play = 0;      // which play of the programme the position is in
    qint64 positionUs = 0;
    bool playOn = true;   // seek only
    double rate = 1.0;    // speed only
    double atHostUs = 0;  // on the master's host clock
    qint64 run = 0;       // the master's run
    qint64 id = 0;        // the command's number in its run
    Programme programme;  // prepare only
    QString target;       // trim only: the key ("ip_pid") of the slave it is for
    qint64 trimUs = 0;    // trim only: how much later (negative: earlier) that screen shows its frames

    static const char* name(Kind kind);
    // Sends it to every slave through the master's control object. False when the control object refused
    // it (a programme whose URIs do not fit a datagram, for one).
    bool send(MultiNetControl& control) const;

    // Called on the library's thread with each command's name, its user data and the command (nothing when
    // the user data lacks a value it needs, or is of a later format).
    using Received = std::function<void(const char* name, const CommandData& data, std::optional<SyncCommand> command)>;
    // Sets the command callbacks of `callbacks` to hand what they receive to `received`.
    static void receiveInto(NetControlNS::slaveControlCbk& callbacks, const Received& received);
    // The line that says why the command `name` with user data `data` was left out (when Received had
    // nothing for it).
    static QString unreadable(const char* name, const CommandData& data);
};

// What a slave has applied of a master's commands: each command number of a run once, in order.
class AppliedCommands
{
public:
    // Command numbers taken in the run followed: at most this many past the last applied.
    static constexpr qint64 kMostAhead = 1000;
    // Runs taken: begun at most this long after the slave's wall clock now (the PCs' clocks agree within it).
    static constexpr qint64 kRunMostAheadMs = 24LL * 3600 * 1000;

    // Whether `command` is new: of a later run than the one followed (which it then follows), or of that
    // run and numbered above the last applied, by at most kMostAhead. A new one is remembered as the
    // last; otherwise `why` (when given) says why not. `wallMs`: this PC's wall clock, ms since 1970.
    bool takeIfNew(const SyncCommand& command, QString* why = nullptr, qint64 wallMs = wallClockMs());

    static qint64 wallClockMs();

private:
    qint64 m_run = -1;
    qint64 m_last = 0;
};
