// SPDX-License-Identifier: MIT
// The command line of `multinet-lab run`. parseRunOptions prints the help and returns nothing with exit
// code 0 for --help, prints a clear message and returns nothing with exit code 2 for a wrong value, and
// otherwise returns the options.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <vector>

struct PlayerRunOptions
{
    int slaves = 3;
    quint16 port = 0;
    int group = 9;
    QString clip;          // empty: made in the work directory
    double clipSeconds = 6.0;  // the length of a clip made here
    QString workDir;       // empty: a temporary directory, removed at the end
    int marginMs = 200;
    int pauseMs = 400;     // how long the session holds its pause
    bool control = false;  // also run with the slaves ignoring the clock offset
    bool rateCorrection = true;
    bool loop = false;
    QString playlist;
    double forSeconds = 0;
    std::vector<double> driftPpm;  // per slave, in turn; empty: none
    bool anchor = false;   // also run on GStreamer's network clock
    bool netClockOnly = false;  // --clock gstreamer-net: only the session on GStreamer's network clock
    QStringList slavePrefix;  // a command each slave is started under; {ppm} and {rate} name its drift
    bool window = false;
    bool verbose = false;
    qint64 boundUs = 1000; // p99 skew a passing run stays within
    qint64 medianBoundUs = 0;  // a long run: every 10 s bin's signed median stays within; 0: not checked
    QString json;
};

std::optional<PlayerRunOptions> parseRunOptions(const QStringList& arguments, int& exitCode);
