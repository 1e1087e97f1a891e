// SPDX-License-Identifier: MIT
// A PipeWire of the benchmark's own, run as whoever runs the benchmark without the desktop's services:
// the graph's daemon (sockets in a runtime directory of the work directory), its PulseAudio server (a
// socket in the work directory), and the session manager, which links each stream to the sink it asks
// for, on a D-Bus session bus of its own. What the sinks are is up to the PulseAudio clients (pactl
// load-module), as with PrivatePulse's server; or, as the sound server of one player's PC, the daemon holds
// one mono null sink and no PulseAudio server runs. Driver thread only.
#pragma once

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

// How a PrivatePipeWire runs.
struct PipeWireOptions
{
    // multinet-timewarp and the drift to run under (the daemon under it, the others on its clock, as
    // on a PC whose clocks all drift together); none: the real clock.
    QString timewarp;
    double ppm = 0;
    // A mono null sink of this name in the daemon, and no PulseAudio server; none: the server.
    QString ownSink;
};

class PrivatePipeWire
{
public:
    // Why PipeWire cannot run here (a program missing), or empty.
    static QString whyUnavailable();

    // Starts the processes, logs in the work directory; throws std::runtime_error when one does not come
    // up.
    PrivatePipeWire(const QString& workDir, int rate, const PipeWireOptions& options = PipeWireOptions());
    ~PrivatePipeWire();

    PrivatePipeWire(const PrivatePipeWire&) = delete;
    PrivatePipeWire& operator=(const PrivatePipeWire&) = delete;

    // For PULSE_SERVER.
    QString pulseAddress() const { return QStringLiteral("unix:") + m_pulseSocket; }
    // For PIPEWIRE_RUNTIME_DIR.
    QString runtimeDir() const { return m_runtimeDir; }
    // The words that run a command on the daemon's clock (none on the real clock).
    QStringList clockPrefix() const { return m_clockPrefix; }
    // Waits until the session manager has linked `links` ports into the sink `sink`; throws
    // std::runtime_error when it has not within seconds.
    void waitForLinksInto(const QString& sink, int links) const;
    // Whether the session manager links the monitor of the sink `sink` out to a port within `timeoutMs`.
    bool monitorLinked(const QString& sink, int timeoutMs) const;

private:
    QProcessEnvironment environment() const;
    // How many links `pw-link` lists into (or out of) the ports whose names begin with `portPrefix`.
    int linksAt(const QString& portPrefix, bool into) const;
    // Whether `linksAt` reaches `links` within `timeoutMs`.
    bool waitForLinks(const QString& portPrefix, bool into, int links, int timeoutMs) const;
    // Starts `command` (program and arguments) with its output in `log`, and waits until `readyPath`
    // exists when one is given.
    const QProcess& start(const QStringList& command, const QString& log, const QString& readyPath);

    QString m_workDir;
    QString m_runtimeDir;
    QString m_pulseSocket;
    QString m_busSocket;
    QStringList m_clockPrefix;
    // In start order; stopped in the reverse.
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
