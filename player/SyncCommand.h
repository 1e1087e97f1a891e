// SPDX-License-Identifier: MIT
// The players' convention for what a command means on the wire: which frame and at which instant.
//
// Instants are times of the master's host clock in microseconds; positions are programme positions in
// microseconds (start carries seconds), snapped by every receiver to the frame that shows there.
//   start      first = position in seconds, second = instant
//   pause      value = instant;             user data pos=<position>
//   seek       position = position, flag = play on after the seek, value = instant
//   speed      speed = rate;                 user data at=<instant> pos=<position>
//   step       user data at=<instant> pos=<position of the frame to show>
//   stepback   as step
//   stop       value = instant
//   prepare    user data uri=<media URI>
// Every command also carries tag=cmd<N> in its user data, so that a slave's line names the master's.
#pragma once

#include "CommandData.h"

#include <QByteArray>
#include <QString>

#include <MultiNetControl.h>

#include <functional>
#include <optional>

struct SyncCommand
{
    enum Kind { Start, Pause, Seek, Speed, Step, StepBack, Stop };

    Kind kind = Start;
    qint64 positionUs = 0;
    bool playOn = true;   // seek only
    double rate = 1.0;    // speed only
    double atHostUs = 0;  // on the master's host clock
    QString tag;

    static const char* name(Kind kind);
    // Sends it to every slave through the master's control object.
    bool send(MultiNetControl& control) const;

    // What a slave's callbacks received, as a command; nothing when the user data lacks a value it needs.
    static SyncCommand start(double positionS, double atHostUs, const CommandData& data);
    static SyncCommand pause(double atHostUs, const CommandData& data);
    static SyncCommand seek(qint64 positionUs, bool playOn, double atHostUs, const CommandData& data);
    static std::optional<SyncCommand> speed(double rate, const CommandData& data);
    static std::optional<SyncCommand> step(Kind kind, const CommandData& data);
    static SyncCommand stop(double atHostUs, const CommandData& data);

    // Called on the library's thread with each command's name, its user data and the command (nothing when
    // the user data lacks a value it needs).
    using Received = std::function<void(const char* name, const CommandData& data, std::optional<SyncCommand> command)>;
    // Sets the playback commands' callbacks of `callbacks` (all but prepare) to hand what they receive to `received`.
    static void receiveInto(NetControlNS::slaveControlCbk& callbacks, const Received& received);
};
