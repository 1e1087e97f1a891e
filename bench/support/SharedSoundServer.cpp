// SPDX-License-Identifier: MIT
#include "support/SharedSoundServer.h"

#include "support/RecordingClock.h"
#include "support/TickOnsets.h"

namespace {

constexpr char kMasterSink[] = "master";
// A slave's sink is named after its drift: the slave prefix knows nothing else of the slave.
constexpr char kSlaveSinkPrefix[] = "drift";

QStringList sinkNames(const std::vector<double>& slavePpms)
{
    QStringList sinks{QLatin1String(kMasterSink)};
    for (const double ppm : slavePpms)
        sinks << QLatin1String(kSlaveSinkPrefix) + QString::number(ppm);
    return sinks;
}

} // namespace

SharedSoundServer::SharedSoundServer(const QString& workDir, SoundServer server, const QString& timewarp,
                                     const std::vector<double>& slavePpms)
    : m_timewarp(timewarp),
      m_pulse(workDir, sinkNames(slavePpms), server),
      m_recorder(SoundRecorder::parec(m_pulse.address(), PrivatePulse::monitor(), PrivatePulse::kRate, m_pulse.channels()),
                 PrivatePulse::kRate, m_pulse.channels())
{
    // The run's processes inherit these: the master keeps the master's sink, the slaves' prefix names theirs.
    qputenv("PULSE_SERVER", m_pulse.address().toLocal8Bit());
    qputenv("PULSE_SINK", kMasterSink);
}

SharedSoundServer::~SharedSoundServer()
{
    qunsetenv("PULSE_SERVER");
    qunsetenv("PULSE_SINK");
}

QString SharedSoundServer::slavePrefix() const
{
    return QStringLiteral("env PULSE_SINK=%1{ppm} %2 {ppm}").arg(QLatin1String(kSlaveSinkPrefix), m_timewarp);
}

HeardTicks SharedSoundServer::stop()
{
    HeardTicks heard;
    heard.sinkLatencyUs = m_pulse.sinkLatencyUs();
    const Recording recording = m_recorder.stop();
    const RecordingClock clock(recording, heard.sinkLatencyUs);
    for (int player = 0; player < m_pulse.channels(); ++player) {
        std::vector<double> ticks;
        for (const std::int64_t frame : tickOnsets(recording, player))
            ticks.push_back(clock.monoNsOf(frame) / 1000.0);
        heard.ticksUs.push_back(ticks);
    }
    heard.scatterUs = clock.scatterUs();
    heard.longestGapMs = longestGapMs(recording);
    return heard;
}
