// SPDX-License-Identifier: MIT
// The sound scenario's rig of one sound server for every player (PrivatePulse: PulseAudio's, or PipeWire's
// PulseAudio server): each player writes into its own channel of one null sink, which one recorder hears
// whole, so every player's ticks sit on one time base. The slaves run under multinet-timewarp while the
// server plays on the real clock, so a slave's sound sink must make up its drift against the server.
#pragma once

#include "support/PrivatePulse.h"
#include "support/SoundRig.h"
#include "support/SoundRecorder.h"

class SharedSoundServer : public SoundRig
{
public:
    SharedSoundServer(const QString& workDir, SoundServer server, const QString& timewarp, const std::vector<double>& slavePpms);
    ~SharedSoundServer() override;

    QString slavePrefix() const override;
    HeardTicks stop() override;

private:
    QString m_timewarp;
    PrivatePulse m_pulse;
    SoundRecorder m_recorder;
};
