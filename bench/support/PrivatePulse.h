// SPDX-License-Identifier: MIT
// A PulseAudio server of the benchmark's own (a socket in its work directory, run as whoever runs the
// benchmark: nothing else on the machine hears it), with one null sink of a channel per player and a
// mono sink per player that writes only into that player's channel. A player is sent to its sink with
// PULSE_SINK in its environment; one recording of the null sink's monitor then holds every player's
// sound on one time base, a channel each. Driver thread only.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>

class PrivatePulse
{
public:
    static constexpr int kRate = 48000;

    // Why the server cannot run here (pulseaudio or parec missing), or empty.
    static QString whyUnavailable();

    // Starts the server with a sink named after each of `players`, channel i for players[i]; throws
    // std::runtime_error when it does not come up.
    PrivatePulse(const QString& workDir, const QStringList& players);
    ~PrivatePulse();

    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // For PULSE_SERVER.
    QString address() const { return QStringLiteral("unix:") + m_socket; }
    // The source that hears every channel.
    static QString monitor() { return QStringLiteral("all.monitor"); }
    int channels() const { return m_channels; }
    // The latency the null sink runs at now, as the server reports it (us); throws when it does not say.
    std::int64_t sinkLatencyUs() const;

private:
    QString m_socket;
    int m_channels;
    QProcess m_server;
};
