// SPDX-License-Identifier: MIT
#include "support/PlayerRunJson.h"

#include "support/PlayerBinary.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>

#include <stdexcept>

QJsonObject runPlayer(const QStringList& arguments, const QString& workDir, int timeoutMs, const QString& name)
{
    const QString json = workDir + QLatin1Char('/') + name + QStringLiteral(".json");
    const QString log = workDir + QLatin1Char('/') + name + QStringLiteral(".log");
    QFile::remove(json);
    QProcess run;
    run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.setStandardOutputFile(log);
    run.start(playerPath(), QStringList{QStringLiteral("run"), QStringLiteral("--work-dir"), workDir,
                                        QStringLiteral("--bound-us"), QStringLiteral("10000000"), QStringLiteral("--json"), json} +
                                arguments);
    if (!run.waitForFinished(timeoutMs))
        throw std::runtime_error("multinet-player run did not finish; see " + log.toStdString());
    QFile file(json);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("multinet-player run wrote no figures; see " + log.toStdString());
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject skewOf(const QJsonObject& session)
{
    return session.value(QStringLiteral("skew_us")).toObject();
}

std::int64_t integer(const QJsonValue& value)
{
    return static_cast<std::int64_t>(value.toDouble());
}

std::string skewText(const QJsonObject& skew)
{
    return std::to_string(integer(skew.value(QStringLiteral("p50")))) + " / " +
           std::to_string(integer(skew.value(QStringLiteral("p99")))) + " / " +
           std::to_string(integer(skew.value(QStringLiteral("max"))));
}
