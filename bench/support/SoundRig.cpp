// SPDX-License-Identifier: MIT
#include "support/SoundRig.h"

#include "support/PipeWirePerPlayer.h"
#include "support/SharedSoundServer.h"

namespace {

const QString kPulseAudio = QStringLiteral("pulseaudio");
const QString kPipeWire = QStringLiteral("pipewire");
const QString kPipeWireAlsa = QStringLiteral("pipewire-alsa");

SoundServer sharedServer(const QString& name)
{
    return name == kPipeWire ? SoundServer::PipeWire : SoundServer::PulseAudio;
}

} // namespace

bool isSoundServer(const QString& name)
{
    return name == kPulseAudio || name == kPipeWire || name == kPipeWireAlsa;
}

QString whySoundRigUnavailable(const QString& server)
{
    return server == kPipeWireAlsa ? PipeWirePerPlayer::whyUnavailable() : PrivatePulse::whyUnavailable(sharedServer(server));
}

std::unique_ptr<SoundRig> startSoundRig(const QString& server, const QString& workDir, const QString& timewarp,
                                        const std::vector<double>& slavePpms)
{
    if (server == kPipeWireAlsa)
        return std::make_unique<PipeWirePerPlayer>(workDir, timewarp, slavePpms);
    return std::make_unique<SharedSoundServer>(workDir, sharedServer(server), timewarp, slavePpms);
}
