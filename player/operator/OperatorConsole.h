// SPDX-License-Identifier: MIT
// The operator's console on a master: serves the page (OperatorServer), keeps what it shows live (a
// snapshot of the show every 200 ms, and at once after each command), and carries out the operator's
// commands on the main thread, one at a time, through the master's actions. Everything here runs on the
// main thread; commands come to it from the server's threads as queued calls.
#pragma once

#include "OperatorServer.h"
#include "OperatorSettings.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

// What the master does for each command. Each answers at once; a long one (playing again after a stop
// prepares every player anew) runs the event loop meanwhile, and a command that comes then is answered
// "busy".
struct OperatorActions
{
    std::function<CommandResult()> play;
    std::function<CommandResult()> pause;
    std::function<CommandResult(qint64 positionUs)> seek;
    std::function<CommandResult()> next;
    std::function<CommandResult()> stop;
    // Empty: this master has no per-screen trim yet, and says so.
    std::function<CommandResult(const QString& screen, int ms)> trim;
    std::function<CommandResult()> quit;
};

class OperatorConsole
{
public:
    // Reads the token, starts the server and prints the "operator" line with the page's address; nothing,
    // with `error` saying why, when the token file or the address will not do.
    static std::unique_ptr<OperatorConsole> start(const OperatorSettings& settings, std::function<ShowStatus()> status,
                                                  OperatorActions actions, QString& error);

    // Takes a snapshot and hands it to the page now: the master changed something the page shows.
    void refresh();
    quint16 port() const { return m_server->port(); }

private:
    OperatorConsole(std::function<ShowStatus()> status, OperatorActions actions);

    void carryOut(const OperatorCommand& command, const OperatorServer::Reply& reply);
    CommandResult dispatch(const OperatorCommand& command, const QString& state);

    QObject m_context;  // first made, last gone: the server's threads queue calls here until it stops
    std::function<ShowStatus()> m_status;
    OperatorActions m_actions;
    QString m_lastCommand;
    QHash<QString, int> m_trims;  // by screen key: the trims the operator set here
    bool m_busy = false;
    QTimer m_tick;
    std::unique_ptr<OperatorServer> m_server;
};
