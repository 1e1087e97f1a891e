// SPDX-License-Identifier: MIT
// What the operator sees of a show: where the master's programme is, and one row per screen (a slave)
// with the health it last reported. A plain value: the main thread takes it, the server's threads read
// their own copy.
#pragma once

#include <MultiNetControl.h>

#include <QString>

#include <optional>
#include <vector>

struct ProgrammeStatus
{
    QString state = QStringLiteral("starting");  // starting, playing, paused, stopped
    qint64 play = 0;         // the play of the programme (Programme), counted over every loop
    int item = 0;            // the item of that play, from 0
    int items = 0;
    QString uri;             // the item's
    qint64 positionUs = 0;   // within the item
    qint64 durationUs = -1;  // the item's length; -1 while unknown
    double rate = 1.0;
    bool loops = false;
};

struct ScreenStatus
{
    QString key;                   // "ip_pid"
    bool inRoster = false;         // false: admitted, but no search has found it
    bool onLine = false;
    qint64 heartbeatAgeUs = -1;    // since its last heartbeat; -1: none yet
    NetControlNS::struSlaveHealth health;  // health.known is false until it reports
    std::optional<double> trimMs;  // nothing: the master keeps no trim for it
};

struct ShowStatus
{
    ProgrammeStatus programme;
    std::vector<ScreenStatus> screens;
    bool trimSupported = false;
    QString lastCommand;  // the operator's last command and what came of it
    // A trim travels as a step: while the master's last step on the wire was a trim, a screen whose last
    // command is a step is shown as having taken that trim.
    bool lastStepWasTrim = false;
};
