// SPDX-License-Identifier: MIT
// Where the sound scenario's players send their sound and how it is heard: the environment of the run's
// processes (set while the rig lives), the prefix each slave runs under, and, once the players have
// ended, each player's ticks on the clock of the frame logs (CLOCK_MONOTONIC). Driver thread only.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

struct HeardTicks
{
    std::vector<std::vector<double>> ticksUs;  // per player, the master first (us)
    double scatterUs = 0;      // how well the recordings sit on the clock: the worst one's (RecordingClock)
    double longestGapMs = 0;   // the longest time a recorder received nothing, the worst one's
    std::int64_t sinkLatencyUs = 0;  // what was added to each recording's placement
};

class SoundRig
{
public:
    virtual ~SoundRig() = default;
    // multinet-player run's --slave-prefix, with {ppm} for the slave's drift.
    virtual QString slavePrefix() const = 0;
    // Ends the recordings and places each player's ticks; throws std::runtime_error when a recording
    // cannot be placed.
    virtual HeardTicks stop() = 0;
};

// The sound servers the scenario can run: "pulseaudio" and "pipewire" (one server for every player, the
// slaves' drift against it), or "pipewire-alsa" (a PipeWire per player on that player's clock, reached
// through PipeWire's ALSA plugin, as on PCs that each run a PipeWire desktop).
bool isSoundServer(const QString& name);
// Why the rig of `server` cannot run here, or empty.
QString whySoundRigUnavailable(const QString& server);
// Starts the rig of `server` for a master and a slave per entry of `slavePpms`, its files and logs in
// `workDir`; `timewarp` is multinet-timewarp. Throws std::runtime_error when a server does not come up.
std::unique_ptr<SoundRig> startSoundRig(const QString& server, const QString& workDir, const QString& timewarp,
                                        const std::vector<double>& slavePpms);
