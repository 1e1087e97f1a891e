// SPDX-License-Identifier: MIT
#include "OperatorSettings.h"

#include <QHostAddress>

#include <cstdio>

std::optional<OperatorSettings> OperatorSettings::parseAddress(const QString& text)
{
    OperatorSettings settings;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QHostAddress address;
        if (!address.setAddress(text.left(colon)) || address.protocol() != QAbstractSocket::IPv4Protocol)
            return std::nullopt;
        settings.host = address.toString();
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    settings.port = quint16(port);
    return settings;
}

QList<QCommandLineOption> OperatorSettings::commandLineOptions()
{
    return {
        {QStringLiteral("operator"),
         QStringLiteral("Run a show that an operator steers: play the programme until told to quit, and serve the "
                        "operator's page, status, metrics and commands on HOST:PORT (HOST: 127.0.0.1 unless given, "
                        "an address of this PC's or 0.0.0.0 for all; PORT 0: a free one). See docs/OPERATOR.md."),
         QStringLiteral("[HOST:]PORT")},
        {QStringLiteral("operator-token-file"),
         QStringLiteral("The file that holds the token the operator's commands carry (readable by its owner only)."),
         QStringLiteral("FILE")},
    };
}

bool OperatorSettings::read(const QCommandLineParser& parser, std::optional<OperatorSettings>& settings, int& exitCode)
{
    const bool page = parser.isSet(QStringLiteral("operator"));
    const QString tokenFile = parser.value(QStringLiteral("operator-token-file"));
    const char* wrong = nullptr;
    if (page && !(settings = parseAddress(parser.value(QStringLiteral("operator")))))
        wrong = "--operator takes [HOST:]PORT with an IPv4 HOST and a PORT up to 65535";
    else if (page && tokenFile.isEmpty())
        wrong = "--operator needs --operator-token-file: commands are refused without a token";
    else if (!page && !tokenFile.isEmpty())
        wrong = "--operator-token-file is for --operator";
    if (wrong) {
        std::fprintf(stderr, "multinet-player: %s\n", wrong);
        exitCode = 2;
        return false;
    }
    if (settings)
        settings->tokenFile = tokenFile;
    return true;
}
