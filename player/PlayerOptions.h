// SPDX-License-Identifier: MIT
// The command lines of multinet-player's subcommands. Each parse function prints the help and returns
// nothing with exit code 0 for --help, prints a clear message and returns nothing with exit code 2 for a
// wrong or missing value, and otherwise returns the options.
#pragma once

#include "ClipMaker.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Which clock places the frames: the library's offset, or GStreamer's network clock (the anchor).
enum class SyncClock { Library, GstNet };

struct PlayerOptions
{
    bool master = false;
    QString ip;
    quint16 port = 0;
    int group = 0;
    QString masterIp;         // slave
    QSet<QString> slaves;     // master: "ip_pid" keys
    QString media;            // master: a file path or URI
    qint64 clockOffsetUs = 0;
    QString frameLog;         // where the shown frames are written at the end; empty: not written
    bool window = false;
    QString label;
    int marginMs = 200;       // master: how far ahead an instant is chosen
    bool ignoreOffset = false;  // slave: the control run, instants taken as if the clocks agreed
    SyncClock clock = SyncClock::Library;
    quint16 netClockPort = 0;   // SyncClock::GstNet
};

struct PlayerRunOptions
{
    int slaves = 3;
    quint16 port = 0;
    int group = 9;
    QString clip;          // empty: made in the work directory
    double clipSeconds = 6.0;  // the length of a clip made here
    QString workDir;       // empty: a temporary directory, removed at the end
    int marginMs = 200;
    bool control = false;  // also run with the slaves ignoring the clock offset
    bool anchor = false;   // also run on GStreamer's network clock
    bool window = false;
    bool verbose = false;
    qint64 boundUs = 1000; // p99 skew a passing run stays within
    QString json;
};

struct ClipOptions
{
    QString path;
    double seconds = 6.0;
    int fps = 30;
    QSize size = ClipMaker::kDefaultSize;
};

std::optional<PlayerOptions> parsePlayerOptions(const QStringList& arguments, bool master, int& exitCode);
std::optional<PlayerRunOptions> parseRunOptions(const QStringList& arguments, int& exitCode);
std::optional<ClipOptions> parseClipOptions(const QStringList& arguments, int& exitCode);
