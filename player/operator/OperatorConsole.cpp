// SPDX-License-Identifier: MIT
#include "OperatorConsole.h"

#include "EventLine.h"

namespace {

// Often enough that the page follows within a second, rarely enough to cost nothing.
constexpr int kSnapshotEveryMs = 200;

const char* outcomeName(CommandResult::Outcome outcome)
{
    switch (outcome) {
    case CommandResult::Done: return "done";
    case CommandResult::Refused: return "refused";
    case CommandResult::Unsupported: return "not-supported";
    case CommandResult::Busy: return "busy";
    }
    return "?";
}

} // namespace

OperatorConsole::OperatorConsole(std::function<ShowStatus()> status, OperatorActions actions)
    : m_status(std::move(status)), m_actions(std::move(actions))
{
}

std::unique_ptr<OperatorConsole> OperatorConsole::start(const OperatorSettings& settings, std::function<ShowStatus()> status,
                                                        OperatorActions actions, QString& error)
{
    std::optional<OperatorToken> token = OperatorToken::load(settings.tokenFile, error);
    if (!token)
        return nullptr;
    std::unique_ptr<OperatorConsole> console(new OperatorConsole(std::move(status), std::move(actions)));
    OperatorConsole* self = console.get();
    console->m_server = OperatorServer::start(
        settings.host, settings.port, std::move(*token),
        [self](const OperatorCommand& command, OperatorServer::Reply reply) {
            QMetaObject::invokeMethod(
                &self->m_context, [self, command, reply] { self->carryOut(command, reply); }, Qt::QueuedConnection);
        },
        error);
    if (!console->m_server)
        return nullptr;
    QObject::connect(&console->m_tick, &QTimer::timeout, &console->m_context, [self] { self->refresh(); });
    console->m_tick.start(kSnapshotEveryMs);
    console->refresh();
    EventLine(QStringLiteral("operator"))
        .add(QStringLiteral("url"), QStringLiteral("http://%1:%2/").arg(settings.host).arg(console->port()))
        .add(QStringLiteral("reads-need-token"), console->m_server->readsNeedToken())
        .print();
    return console;
}

void OperatorConsole::refresh()
{
    ShowStatus status = m_status();
    status.trimSupported = bool(m_actions.trim);
    status.lastCommand = m_lastCommand;
    for (ScreenStatus& screen : status.screens) {
        if (m_trims.contains(screen.key))
            screen.trimMs = m_trims.value(screen.key);
    }
    m_server->publish(status);
}

void OperatorConsole::carryOut(const OperatorCommand& command, const OperatorServer::Reply& reply)
{
    if (m_busy) {
        reply({CommandResult::Busy, QStringLiteral("the master is still carrying out the command before")});
        return;
    }
    m_busy = true;
    const CommandResult result = dispatch(command, m_status().programme.state);
    m_busy = false;
    if (command.kind == OperatorCommand::Trim && result.outcome == CommandResult::Done)
        m_trims.insert(command.screen, command.trimMs);
    const char* name = OperatorCommand::name(command.kind);
    m_lastCommand = QStringLiteral("%1: %2").arg(QLatin1String(name), QLatin1String(outcomeName(result.outcome)));
    if (!result.message.isEmpty())
        m_lastCommand += QStringLiteral(" (%1)").arg(result.message);
    EventLine line(QStringLiteral("operator"));
    line.add(QStringLiteral("command"), name).add(QStringLiteral("outcome"), outcomeName(result.outcome));
    if (!result.message.isEmpty())
        line.add(QStringLiteral("message"), result.message);
    line.print();
    reply(result);
    refresh();
}

CommandResult OperatorConsole::dispatch(const OperatorCommand& command, const QString& state)
{
    if (command.kind != OperatorCommand::Quit && state == QLatin1String("starting"))
        return CommandResult::refused(QStringLiteral("the show is still starting: finding, synchronising and preparing its screens"));
    const bool moves = command.kind == OperatorCommand::Pause || command.kind == OperatorCommand::Seek || command.kind == OperatorCommand::Next;
    if (moves && state == QLatin1String("stopped"))
        return CommandResult::refused(QStringLiteral("the show is stopped: play starts it again"));
    switch (command.kind) {
    case OperatorCommand::Play: return m_actions.play();
    case OperatorCommand::Pause: return m_actions.pause();
    case OperatorCommand::Seek: return m_actions.seek(command.positionUs);
    case OperatorCommand::Next: return m_actions.next();
    case OperatorCommand::Stop: return m_actions.stop();
    case OperatorCommand::Quit: return m_actions.quit();
    case OperatorCommand::Trim:
        if (!m_actions.trim)
            return {CommandResult::Unsupported, QStringLiteral("a per-screen trim is not supported by this master yet")};
        return m_actions.trim(command.screen, command.trimMs);
    }
    return CommandResult::refused(QStringLiteral("unknown command"));
}
