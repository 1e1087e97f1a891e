// SPDX-License-Identifier: MIT
// A PulseAudio server of the benchmark's own (a socket in its work directory, run as whoever runs the
// benchmark: nothing else on the machine hears it), PulseAudio's or PipeWire's, with one null sink of a channel per player and a
// mono sink per player that writes only into that player's channel. A player is sent to its sink with
// PULSE_SINK in its environment; one recording of the null sink's monitor then holds every player's
// sound on one time base, a channel each. Driver thread only.
#pragma once

#include "support/PrivatePipeWire.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

enum class SoundServer { PulseAudio, PipeWire };

class PrivatePulse
{
public:
    static constexpr int kRate = 48000;

    // Why the server cannot run here (a program missing), or empty.
    static QString whyUnavailable(SoundServer server);

    // Starts the server with a sink named after each of `players`, channel i for players[i]; throws
    // std::runtime_error when it does not come up.
    PrivatePulse(const QString& workDir, const QStringList& players, SoundServer server);
    ~PrivatePulse();

    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // For PULSE_SERVER.
    QString address() const { return m_address; }
    // The source that hears every channel.
    static QString monitor() { return QStringLiteral("all.monitor"); }
    int channels() const { return m_channels; }
    // The latency the null sink runs at now, as the server reports it (us); throws when it does not say.
    std::int64_t sinkLatencyUs() const;

private:
    void startPulseAudio(const QString& workDir, const QStringList& modules);
    // pactl's output in the C locale, whose words the patterns that read it expect; throws when it fails.
    QString pactl(const QStringList& args) const;

    QString m_address;
    int m_channels;
    QProcess m_pulseAudio;                       // when PulseAudio's
    std::unique_ptr<PrivatePipeWire> m_pipeWire;  // when PipeWire's
};
