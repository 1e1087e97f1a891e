// SPDX-License-Identifier: MIT
#include "SyncCommand.h"

#include <QDateTime>

#include <cmath>

namespace {

constexpr int kLayer = 0;

SyncCommand made(SyncCommand::Kind kind, qint64 positionUs, double atHostUs, const CommandData& data)
{
    SyncCommand command;
    command.kind = kind;
    command.positionUs = positionUs;
    command.atHostUs = atHostUs;
    command.play = data.integer(QStringLiteral("play")).value_or(0);
    command.run = data.integer(QStringLiteral("run")).value_or(0);
    command.id = data.integer(QStringLiteral("cmd")).value_or(0);
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

// Why a prepare's programme cannot be built from `data`; empty when it can.
QString programmeRefusal(const CommandData& data)
{
    const qint64 items = data.integer(QStringLiteral("items")).value_or(0);
    if (items < 1)
        return QStringLiteral("prepare without items; ignored");
    if (items > SyncCommand::kMostItems)
        return QStringLiteral("prepare of %1 items, more than the %2 a programme holds; ignored")
            .arg(items)
            .arg(SyncCommand::kMostItems);
    qint64 bytes = 0;
    for (qint64 i = 0; i < items; ++i) {
        const QString uri = data.value(QStringLiteral("uri%1").arg(i));
        if (uri.isEmpty())
            return QStringLiteral("prepare of %1 items without a URI for item %2; ignored").arg(items).arg(i);
        bytes += uri.toUtf8().size();
    }
    if (bytes > SyncCommand::kMostProgrammeBytes)
        return QStringLiteral("prepare whose URIs hold %1 bytes, more than the %2 a programme holds; ignored")
            .arg(bytes)
            .arg(SyncCommand::kMostProgrammeBytes);
    return QString();
}

std::optional<SyncCommand> prepared(const CommandData& data)
{
    if (!programmeRefusal(data).isEmpty())
        return std::nullopt;
    SyncCommand command = made(SyncCommand::Prepare, 0, 0, data);
    const qint64 items = *data.integer(QStringLiteral("items"));
    QStringList uris;
    for (qint64 i = 0; i < items; ++i)
        uris.append(data.value(QStringLiteral("uri%1").arg(i)));
    command.programme = Programme(uris, data.integer(QStringLiteral("loop")).value_or(0) != 0);
    return command;
}

// A trim, which travels on a step with words of its own; nothing when a word it needs is missing.
std::optional<SyncCommand> trimmed(const CommandData& data)
{
    const std::optional<qint64> trimUs = data.integer(QStringLiteral("trim-us"));
    const QString key = data.value(QStringLiteral("key"));
    if (!trimUs || key.isEmpty())
        return std::nullopt;
    SyncCommand command = made(SyncCommand::Trim, 0, 0, data);
    command.target = key;
    command.trimUs = *trimUs;
    return command;
}

bool isTrim(const CommandData& data)
{
    return data.value(QStringLiteral("kind")) == QLatin1String("trim");
}

// The words every command carries, and those of its kind.
CommandData userData(const SyncCommand& command)
{
    CommandData data;
    data.set(QStringLiteral("v"), qint64(SyncCommand::kFormatVersion))
        .set(QStringLiteral("run"), command.run)
        .set(QStringLiteral("cmd"), command.id);
    const qint64 at = std::llround(command.atHostUs);
    switch (command.kind) {
    case SyncCommand::Prepare:
        data.set(QStringLiteral("items"), qint64(command.programme.uris().size()))
            .set(QStringLiteral("loop"), qint64(command.programme.loops() ? 1 : 0));
        for (int i = 0; i < command.programme.uris().size(); ++i)
            data.set(QStringLiteral("uri%1").arg(i), command.programme.uris().at(i));
        return data;
    case SyncCommand::Stop:
        return data;
    case SyncCommand::Trim:
        data.set(QStringLiteral("kind"), QStringLiteral("trim"))
            .set(QStringLiteral("key"), command.target)
            .set(QStringLiteral("trim-us"), command.trimUs);
        return data;
    case SyncCommand::Speed:
    case SyncCommand::Step:
    case SyncCommand::StepBack:
        data.set(QStringLiteral("at"), at);
        [[fallthrough]];
    case SyncCommand::Pause:
        data.set(QStringLiteral("pos"), command.positionUs);
        [[fallthrough]];
    default:
        data.set(QStringLiteral("play"), command.play);
        return data;
    }
}

} // namespace

const char* SyncCommand::name(Kind kind)
{
    static const char* const kNames[] = {"start", "pause", "seek", "speed", "step", "stepback", "stop", "prepare", "trim"};
    return kNames[kind];
}

bool SyncCommand::send(MultiNetControl& control) const
{
    QByteArray bytes = userData(*this).bytes();
    char* user = bytes.data();
    const int len = int(bytes.size());
    switch (kind) {
    case Prepare:
        return control.notifySlavePrepareAsync(kLayer, user, len);
    case Start:
        return control.notifySlaveStart(double(positionUs) / 1e6, atHostUs, kLayer, user, len);
    case Pause:
        return control.notifySlavePause(atHostUs, kLayer, user, len);
    case Seek:
        return control.notifySlaveSeek(positionUs, playOn, kLayer, atHostUs, user, len);
    case Speed:
        return control.notifySlaveSpeed(rate, kLayer, user, len);
    case Step:
    case Trim:
        return control.notifySlaveStep(kLayer, user, len);
    case StepBack:
        return control.notifySlaveStepBack(kLayer, user, len);
    case Stop:
        return control.notifySlaveStop(atHostUs, kLayer, user, len);
    }
    return false;
}

void SyncCommand::receiveInto(NetControlNS::slaveControlCbk& callbacks, const Received& received)
{
    // `make` builds the command from the parsed user data; a later format is not guessed at.
    auto deliver = [received](const char* name, char* userData, int len, const auto& make) {
        const CommandData data = CommandData::parse(userData, len);
        const bool readable = data.integer(QStringLiteral("v")).value_or(kFormatVersion) <= kFormatVersion;
        received(name, data, readable ? make(data) : std::nullopt);
    };
    callbacks.prepareCbk = [deliver](char* userData, int len) { deliver("prepare", userData, len, prepared); };
    callbacks.startCbk = [deliver](int, double positionS, double atUs, char* userData, int len) {
        deliver("start", userData, len,
                [&](const CommandData& data) { return std::optional(made(Start, std::llround(positionS * 1e6), atUs, data)); });
    };
    callbacks.pauseCbk = [deliver](int, double atUs, char* userData, int len) {
        deliver("pause", userData, len, [&](const CommandData& data) {
            return std::optional(made(Pause, data.integer(QStringLiteral("pos")).value_or(-1), atUs, data));
        });
    };
    callbacks.seekCbk = [deliver](int, qint64 positionUs, bool playOn, double atUs, char* userData, int len) {
        deliver("seek", userData, len, [&](const CommandData& data) {
            SyncCommand command = made(Seek, positionUs, atUs, data);
            command.playOn = playOn;
            return std::optional(command);
        });
    };
    callbacks.speedCbk = [deliver](int, double rate, char* userData, int len) {
        deliver("speed", userData, len, [&](const CommandData& data) {
            std::optional<SyncCommand> command = madeFromData(Speed, data);
            if (command)
                command->rate = rate;
            return command;
        });
    };
    callbacks.stepCbk = [deliver](int, char* userData, int len) {
        // A trim travels on a step (see the header).
        if (isTrim(CommandData::parse(userData, len)))
            deliver("trim", userData, len, trimmed);
        else
            deliver("step", userData, len, [](const CommandData& data) { return madeFromData(Step, data); });
    };
    callbacks.stepBackCbk = [deliver](int, char* userData, int len) {
        deliver("stepback", userData, len, [](const CommandData& data) { return madeFromData(StepBack, data); });
    };
    callbacks.stopCbk = [deliver](int, double atUs, char* userData, int len) {
        deliver("stop", userData, len, [&](const CommandData& data) { return std::optional(made(Stop, 0, atUs, data)); });
    };
}

QString SyncCommand::unreadable(const char* name, const CommandData& data)
{
    const bool readable = data.integer(QStringLiteral("v")).value_or(kFormatVersion) <= kFormatVersion;
    if (readable && qstrcmp(name, "prepare") == 0) {
        const QString refusal = programmeRefusal(data);
        if (!refusal.isEmpty())
            return refusal;
    }
    return QStringLiteral("%1 whose user data lacks what it needs, or is of a later format; ignored").arg(QLatin1String(name));
}

qint64 AppliedCommands::wallClockMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool AppliedCommands::takeIfNew(const SyncCommand& command, QString* why, qint64 wallMs)
{
    QString refusal;
    if (command.run > wallMs && command.run - wallMs > kRunMostAheadMs)
        refusal = QStringLiteral("of run %1, begun more than %2 h after this PC's wall clock now")
                      .arg(command.run)
                      .arg(kRunMostAheadMs / 3600000);
    else if (command.run < m_run)
        refusal = QStringLiteral("of run %1, older than run %2 that this slave follows").arg(command.run).arg(m_run);
    else if (command.run > m_run) {
        m_run = command.run;
        m_last = command.id;
        return true;
    } else if (command.id <= m_last)
        refusal = QStringLiteral("applied already, or older than the last one applied");
    else if (quint64(command.id) - quint64(m_last) > quint64(kMostAhead))
        refusal = QStringLiteral("more than %1 past the last one applied (%2)").arg(kMostAhead).arg(m_last);
    if (!refusal.isEmpty()) {
        if (why)
            *why = refusal;
        return false;
    }
    m_last = command.id;
    return true;
}
