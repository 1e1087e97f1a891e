// SPDX-License-Identifier: MIT
// Where a master serves its operator's page (`--operator [HOST:]PORT`), and the file of the token that
// commands must carry (`--operator-token-file FILE`).
#pragma once

#include <QCommandLineParser>
#include <QString>

#include <optional>

struct OperatorSettings
{
    QString host = QStringLiteral("127.0.0.1");  // loopback unless the operator names another address
    quint16 port = 0;                             // 0: a free one, which the "operator" line names
    QString tokenFile;

    // "[HOST:]PORT" with an IPv4 HOST; nothing for anything else.
    static std::optional<OperatorSettings> parseAddress(const QString& text);

    // The two options, for the master's command line.
    static QList<QCommandLineOption> commandLineOptions();
    // What they ask for into `settings` (nothing without --operator); false, with a message printed and
    // `exitCode` 2, for a wrong address or a token file missing or given alone.
    static bool read(const QCommandLineParser& parser, std::optional<OperatorSettings>& settings, int& exitCode);
};
