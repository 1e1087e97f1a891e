// SPDX-License-Identifier: MIT
#include "SyncCommand.h"

#include <cmath>

namespace {

constexpr int kLayer = 0;

SyncCommand made(SyncCommand::Kind kind, qint64 positionUs, double atHostUs, const CommandData& data)
{
    SyncCommand command;
    command.kind = kind;
    command.positionUs = positionUs;
    command.atHostUs = atHostUs;
    command.tag = data.value(QStringLiteral("tag"));
    return command;
}

// A command whose instant ("at") and position ("pos") travel in its user data; nothing when either is missing.
std::optional<SyncCommand> madeFromData(SyncCommand::Kind kind, const CommandData& data)
{
    const std::optional<qint64> at = data.integer(QStringLiteral("at"));
    const std::optional<qint64> pos = data.integer(QStringLiteral("pos"));
    if (!at || !pos)
        return std::nullopt;
    return made(kind, *pos, double(*at), data);
}

} // namespace

const char* SyncCommand::name(Kind kind)
{
    static const char* const kNames[] = {"start", "pause", "seek", "speed", "step", "stepback", "stop"};
    return kNames[kind];
}

bool SyncCommand::send(MultiNetControl& control) const
{
    CommandData data;
    data.set(QStringLiteral("tag"), tag);
    const qint64 at = std::llround(atHostUs);
    if (kind == Pause || kind == Speed || kind == Step || kind == StepBack)
        data.set(QStringLiteral("pos"), positionUs);
    if (kind == Speed || kind == Step || kind == StepBack)
        data.set(QStringLiteral("at"), at);
    QByteArray bytes = data.bytes();
    char* user = bytes.data();
    const int len = int(bytes.size());
    switch (kind) {
    case Start:
        return control.notifySlaveStart(double(positionUs) / 1e6, atHostUs, kLayer, user, len);
    case Pause:
        return control.notifySlavePause(atHostUs, kLayer, user, len);
    case Seek:
        return control.notifySlaveSeek(positionUs, playOn, kLayer, atHostUs, user, len);
    case Speed:
        return control.notifySlaveSpeed(rate, kLayer, user, len);
    case Step:
        return control.notifySlaveStep(kLayer, user, len);
    case StepBack:
        return control.notifySlaveStepBack(kLayer, user, len);
    case Stop:
        return control.notifySlaveStop(atHostUs, kLayer, user, len);
    }
    return false;
}

SyncCommand SyncCommand::start(double positionS, double atHostUs, const CommandData& data)
{
    return made(Start, std::llround(positionS * 1e6), atHostUs, data);
}

SyncCommand SyncCommand::pause(double atHostUs, const CommandData& data)
{
    return made(Pause, data.integer(QStringLiteral("pos")).value_or(-1), atHostUs, data);
}

SyncCommand SyncCommand::seek(qint64 positionUs, bool playOn, double atHostUs, const CommandData& data)
{
    SyncCommand command = made(Seek, positionUs, atHostUs, data);
    command.playOn = playOn;
    return command;
}

std::optional<SyncCommand> SyncCommand::speed(double rate, const CommandData& data)
{
    std::optional<SyncCommand> command = madeFromData(Speed, data);
    if (command)
        command->rate = rate;
    return command;
}

std::optional<SyncCommand> SyncCommand::step(Kind kind, const CommandData& data)
{
    return madeFromData(kind, data);
}

SyncCommand SyncCommand::stop(double atHostUs, const CommandData& data)
{
    return made(Stop, 0, atHostUs, data);
}

void SyncCommand::receiveInto(NetControlNS::slaveControlCbk& callbacks, const Received& received)
{
    // `make` builds the command from the parsed user data.
    auto deliver = [received](const char* name, char* userData, int len, const auto& make) {
        const CommandData data = CommandData::parse(userData, len);
        received(name, data, make(data));
    };
    callbacks.startCbk = [deliver](int, double positionS, double atUs, char* userData, int len) {
        deliver("start", userData, len, [&](const CommandData& data) { return std::optional(start(positionS, atUs, data)); });
    };
    callbacks.pauseCbk = [deliver](int, double atUs, char* userData, int len) {
        deliver("pause", userData, len, [&](const CommandData& data) { return std::optional(pause(atUs, data)); });
    };
    callbacks.seekCbk = [deliver](int, qint64 positionUs, bool playOn, double atUs, char* userData, int len) {
        deliver("seek", userData, len,
                [&](const CommandData& data) { return std::optional(seek(positionUs, playOn, atUs, data)); });
    };
    callbacks.speedCbk = [deliver](int, double rate, char* userData, int len) {
        deliver("speed", userData, len, [&](const CommandData& data) { return speed(rate, data); });
    };
    callbacks.stepCbk = [deliver](int, char* userData, int len) {
        deliver("step", userData, len, [](const CommandData& data) { return step(Step, data); });
    };
    callbacks.stepBackCbk = [deliver](int, char* userData, int len) {
        deliver("stepback", userData, len, [](const CommandData& data) { return step(StepBack, data); });
    };
    callbacks.stopCbk = [deliver](int, double atUs, char* userData, int len) {
        deliver("stop", userData, len, [&](const CommandData& data) { return std::optional(stop(atUs, data)); });
    };
}
