// SPDX-License-Identifier: MIT
// The command lines of the three subcommands. Each parse function prints the help and returns nothing
// with exit code 0 for --help, prints a clear message and returns nothing with exit code 2 for a wrong
// or missing value, and otherwise returns the options.
#pragma once

#include "KeyFile.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct SlaveOptions
{
    QString ip;
    quint16 port = 0;
    int group = 0;
    QString masterIp;
    std::vector<int> layers{0};
    qint64 clockOffsetUs = 0;
    qint64 parentPid = 0;  // 0: none; else end with that process and at the end of standard input
    std::optional<KeyFile> keys;  // none: an unkeyed group
};

struct MasterOptions
{
    QString ip;
    quint16 port = 0;
    int group = 0;
    QSet<QString> slaves;  // "ip_pid" admission keys
    qint64 clockOffsetUs = 0;
    qint64 parentPid = 0;  // 0: none; else end with that process
    std::optional<KeyFile> keys;  // none: an unkeyed group
};

struct RunOptions
{
    int slaves = 3;
    quint16 port = 0;  // 0: a free port is picked
    int group = 7;
    bool verbose = false;
    std::optional<KeyFile> keys;  // checked here, read again by every player
};

// `arguments` starts with the program and the subcommand, as QCoreApplication::arguments() has them.
std::optional<SlaveOptions> parseSlaveOptions(const QStringList& arguments, int& exitCode);
std::optional<MasterOptions> parseMasterOptions(const QStringList& arguments, int& exitCode);
std::optional<RunOptions> parseRunOptions(const QStringList& arguments, int& exitCode);
