// SPDX-License-Identifier: MIT
// A PipeWire of the benchmark's own, run as whoever runs the benchmark without the desktop's services:
// the graph's daemon (sockets in a runtime directory of the work directory), its PulseAudio server (a
// socket in the work directory), and the session manager, which links each stream to the sink it asks
// for, on a D-Bus session bus of its own. What the sinks are is up to the PulseAudio clients (pactl
// load-module), as with PrivatePulse's server. Driver thread only.
#pragma once

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

class PrivatePipeWire
{
public:
    // Why PipeWire cannot run here (a program missing), or empty.
    static QString whyUnavailable();

    // Starts the four processes, logs in the work directory; throws std::runtime_error when one does not
    // come up.
    PrivatePipeWire(const QString& workDir, int rate);
    ~PrivatePipeWire();

    PrivatePipeWire(const PrivatePipeWire&) = delete;
    PrivatePipeWire& operator=(const PrivatePipeWire&) = delete;

    // For PULSE_SERVER.
    QString pulseAddress() const { return QStringLiteral("unix:") + m_pulseSocket; }
    // Waits until the session manager has linked `links` ports into the sink `sink`; throws
    // std::runtime_error when it has not within seconds.
    void waitForLinksInto(const QString& sink, int links) const;

private:
    QProcessEnvironment environment() const;
    void start(const QString& program, const QStringList& args, const QString& log, const QString& readyPath);

    QString m_workDir;
    QString m_runtimeDir;
    QString m_pulseSocket;
    QString m_busSocket;
    // In start order; stopped in the reverse.
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
