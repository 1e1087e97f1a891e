// SPDX-License-Identifier: MIT
// One process that `run` starts: this program again (or `program`, for a test), as master or slave. Its
// output is read line by line; its event lines are kept for the summary, its other lines only shown with
// --verbose, and the last few kept to explain a failure.
#pragma once

#include "EventLine.h"

#include <QProcess>
#include <QStringList>

#include <functional>
#include <vector>

class HostProcess
{
public:
    HostProcess(QString name, QStringList arguments, bool echo, QString program = QString());
    ~HostProcess();

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the process and waits for its "ready" line.
    bool start(int timeoutMs);
    // Why start() failed: the process's own last words (its last line that starts with the program's
    // name) when it ended, else the time-out.
    const QString& startFailure() const { return m_startFailure; }
    bool ready() const { return m_ready; }
    const QString& name() const { return m_name; }
    qint64 pid() const { return m_pid; }  // kept after the process has ended
    const EventLine& readyLine() const { return m_events.front(); }

    // Writes one line to its standard input.
    void send(const QString& line);
    // Waits, running the event loop, for an event at index `from` or later that `match` accepts; returns
    // its index, or -1 on time-out or when the process has ended.
    int waitForEvent(const std::function<bool(const EventLine&)>& match, int timeoutMs, std::size_t from = 0);
    const std::vector<EventLine>& events() const { return m_events; }
    // Sends "quit" and waits for the exit; kills the process when it is late. True for a clean exit.
    bool finish(int timeoutMs);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // The last lines it printed, for an error message.
    QString recentOutput() const;

private:
    void readLines();

    const QString m_name;
    const QString m_program;
    const QStringList m_arguments;
    const bool m_echo;
    QProcess m_process;
    qint64 m_pid = 0;
    std::vector<EventLine> m_events;
    QStringList m_recentLines;
    QString m_startFailure;
    bool m_ready = false;
};
