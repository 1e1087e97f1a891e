// SPDX-License-Identifier: MIT
// The sound scenario's rig of a PipeWire per player, as on PCs that each run a PipeWire desktop: each
// player's PipeWire runs on that player's clock (a slave's daemon, session manager and player share one
// clock under multinet-timewarp, so the slave's "sound card", the null sink, drifts with it), and each
// player reaches it through PipeWire's ALSA plugin, whose delay comes from the graph's own clock. A recorder
// per PipeWire hears its null sink; each recording is put on the frame logs' clock by itself, so the skew
// between two players carries two placements' errors (scatterUs says how large).
//
// PipeWire's ALSA plugin (Debian's pipewire-alsa) conflicts with pulseaudio, which the other rigs and the
// tests need: where it is not installed, the scripts unpack the package into build/pipewire-alsa.
#pragma once

#include "support/PrivatePipeWire.h"
#include "support/SoundRecorder.h"
#include "support/SoundRig.h"

class PipeWirePerPlayer : public SoundRig
{
public:
    // The plugin's path, or empty when it is nowhere to be found.
    static QString alsaPlugin();
    static QString whyUnavailable();

    PipeWirePerPlayer(const QString& workDir, const QString& timewarp, const std::vector<double>& slavePpms);
    ~PipeWirePerPlayer() override;

    QString slavePrefix() const override;
    HeardTicks stop() override;

private:
    // One player's PC: its PipeWire, the ALSA configuration that sends the player there, and its recorder.
    struct PlayerPc
    {
        std::unique_ptr<PrivatePipeWire> pipeWire;
        QString alsaConfig;
        std::unique_ptr<SoundRecorder> recorder;
    };
    PlayerPc startPc(const QString& dir, const QString& timewarp, double ppm);

    QString m_workDir;
    std::vector<PlayerPc> m_pcs;  // the master's first
};
