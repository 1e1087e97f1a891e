// SPDX-License-Identifier: MIT
#include "StatusJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kStepCode = 311;

QJsonValue seconds(qint64 us)
{
    return us < 0 ? QJsonValue() : QJsonValue(double(us) / 1e6);
}

QJsonObject programmeJson(const ProgrammeStatus& programme)
{
    return QJsonObject{
        {QStringLiteral("state"), programme.state},
        {QStringLiteral("play"), programme.play},
        {QStringLiteral("item"), programme.item},
        {QStringLiteral("items"), programme.items},
        {QStringLiteral("uri"), programme.uri},
        {QStringLiteral("position_s"), seconds(programme.positionUs)},
        {QStringLiteral("duration_s"), seconds(programme.durationUs)},
        {QStringLiteral("rate"), programme.rate},
        {QStringLiteral("loops"), programme.loops},
    };
}

QJsonValue healthJson(const NetControlNS::struSlaveHealth& health, bool lastStepWasTrim)
{
    if (!health.known)
        return QJsonValue();
    QJsonObject clock{{QStringLiteral("valid"), health.clockValid}};
    if (health.clockValid) {
        clock.insert(QStringLiteral("offset_us"), health.offsetUs);
        clock.insert(QStringLiteral("rate_ppm"), health.rateKnown ? QJsonValue(health.ratePpm) : QJsonValue());
        clock.insert(QStringLiteral("uncertainty_us"), health.uncertaintyUs);
    }
    QJsonValue lastCommand;
    if (health.lastCommandCode >= 0) {
        const bool trim = lastStepWasTrim && health.lastCommandCode == kStepCode;
        lastCommand = QJsonObject{{QStringLiteral("name"), trim ? QStringLiteral("trim") : commandNameOfCode(health.lastCommandCode)},
                                  {QStringLiteral("code"), health.lastCommandCode},
                                  {QStringLiteral("seq"), health.lastCommandSeq}};
    }
    QJsonValue presentation;
    if (health.presentationKnown)
        presentation = QJsonObject{{QStringLiteral("late_p50_us"), health.presentation.lateP50Us},
                                   {QStringLiteral("late_p99_us"), health.presentation.lateP99Us},
                                   {QStringLiteral("frames_shown"), qint64(health.presentation.framesShown)},
                                   {QStringLiteral("frames_dropped"), qint64(health.presentation.framesDropped)}};
    return QJsonObject{
        {QStringLiteral("name"), QString::fromStdString(health.text)},
        {QStringLiteral("clock"), clock},
        {QStringLiteral("last_command"), lastCommand},
        {QStringLiteral("repeats_dropped"), qint64(health.repeatsDropped)},
        {QStringLiteral("presentation"), presentation},
    };
}

QJsonObject screenJson(const ScreenStatus& screen, bool lastStepWasTrim)
{
    const NetControlNS::struAddress& slave = screen.health.slave;
    return QJsonObject{
        {QStringLiteral("key"), screen.key},
        {QStringLiteral("ip"), QString::fromStdString(slave.ip)},
        {QStringLiteral("port"), screen.inRoster ? QJsonValue(slave.port) : QJsonValue()},
        {QStringLiteral("pid"), slave.processId},
        {QStringLiteral("in_roster"), screen.inRoster},
        {QStringLiteral("on_line"), screen.onLine},
        {QStringLiteral("heartbeat_age_s"), seconds(screen.heartbeatAgeUs)},
        {QStringLiteral("trim_ms"), screen.trimMs ? QJsonValue(*screen.trimMs) : QJsonValue()},
        {QStringLiteral("health"), healthJson(screen.health, lastStepWasTrim)},
    };
}

} // namespace

QByteArray statusJson(const ShowStatus& status)
{
    QJsonArray screens;
    for (const ScreenStatus& screen : status.screens)
        screens.append(screenJson(screen, status.lastStepWasTrim));
    const QJsonObject root{
        {QStringLiteral("programme"), programmeJson(status.programme)},
        {QStringLiteral("screens"), screens},
        {QStringLiteral("trim_supported"), status.trimSupported},
        {QStringLiteral("last_command"), status.lastCommand},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QString commandNameOfCode(int code)
{
    switch (code) {
    case 301: return QStringLiteral("start");
    case 302: return QStringLiteral("pause");
    case 303: return QStringLiteral("stop");
    case 304: return QStringLiteral("prepare");
    case 305: return QStringLiteral("seek");
    case 308: return QStringLiteral("clock-sync-start");
    case 309: return QStringLiteral("clock-sync-stop");
    case 310: return QStringLiteral("speed");
    case kStepCode: return QStringLiteral("step");
    case 312: return QStringLiteral("stepback");
    default: return QStringLiteral("code %1").arg(code);
    }
}
