// SPDX-License-Identifier: MIT
#include "support/PipeWirePerPlayer.h"

#include "support/PrivatePulse.h"
#include "support/RecordingClock.h"
#include "support/TickOnsets.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr char kSink[] = "speaker";
constexpr char kPluginFile[] = "libasound_module_pcm_pipewire.so";
constexpr int kRecorderLinkTimeoutMs = 3000;
constexpr int kRecorderAttempts = 3;

// The PC of the slave of `ppm`, or the master's: where its files are.
QString pcDir(const QString& workDir, const QString& name)
{
    return workDir + QStringLiteral("/pc-") + name;
}

void writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
}

// ALSA's default device the PC's null sink, through the plugin. The system's configuration comes first;
// this default then replaces its own.
QString alsaConfig(const QString& plugin)
{
    return QStringLiteral(R"(</usr/share/alsa/alsa.conf>
pcm_type.pipewire { lib "%1" }
pcm.!default { type pipewire playback_node "%2" }
)")
        .arg(plugin, QLatin1String(kSink));
}

} // namespace

QString PipeWirePerPlayer::alsaPlugin()
{
    // Installed (pipewire-alsa), or unpacked by the scripts.
    for (const QString& root : {QStringLiteral("/usr/lib"), QStringLiteral(TAMO_BENCH_PIPEWIRE_ALSA_DIR "/usr/lib")}) {
        for (const QString& arch : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString path = root + QLatin1Char('/') + arch + QStringLiteral("/alsa-lib/") + QLatin1String(kPluginFile);
            if (QFile::exists(path))
                return path;
        }
    }
    return QString();
}

QString PipeWirePerPlayer::whyUnavailable()
{
    const QString why = PrivatePipeWire::whyUnavailable();
    if (!why.isEmpty())
        return why;
    if (QStandardPaths::findExecutable(QStringLiteral("pw-record")).isEmpty())
        return QStringLiteral("pw-record is missing (pipewire-bin)");
    if (alsaPlugin().isEmpty())
        return QStringLiteral("PipeWire's ALSA plugin is missing (pipewire-alsa; scripts/bench unpacks it into build/pipewire-alsa)");
    return QString();
}

PipeWirePerPlayer::PlayerPc PipeWirePerPlayer::startPc(const QString& dir, const QString& timewarp, double ppm)
{
    QDir().mkpath(dir);
    PlayerPc pc;
    PipeWireOptions options;
    options.ownSink = QLatin1String(kSink);
    if (!timewarp.isEmpty()) {
        options.timewarp = timewarp;
        options.ppm = ppm;
    }
    pc.pipeWire = std::make_unique<PrivatePipeWire>(dir, PrivatePulse::kRate, options);
    pc.alsaConfig = dir + QStringLiteral("/asound.conf");
    writeFile(pc.alsaConfig, alsaConfig(alsaPlugin()));
    // A recorder that comes before the session manager has taken in the sink is refused ("no node
    // available") and left unlinked: it heard one tick of a 110 s run. Such a recorder is started again.
    for (int attempt = 1;; ++attempt) {
        pc.recorder = std::make_unique<SoundRecorder>(
            SoundRecorder::pwRecord(pc.pipeWire->runtimeDir(), QLatin1String(kSink), PrivatePulse::kRate), PrivatePulse::kRate, 1);
        if (pc.pipeWire->monitorLinked(QLatin1String(kSink), kRecorderLinkTimeoutMs))
            return pc;
        if (attempt == kRecorderAttempts)
            throw std::runtime_error("the session manager did not link the recorder to the sink; see " + dir.toStdString() + "/wireplumber.log");
        pc.recorder.reset();
    }
}

PipeWirePerPlayer::PipeWirePerPlayer(const QString& workDir, const QString& timewarp, const std::vector<double>& slavePpms)
    : m_workDir(workDir)
{
    m_pcs.push_back(startPc(pcDir(workDir, QStringLiteral("master")), QString(), 0));
    for (const double ppm : slavePpms) {
        const QString dir = pcDir(workDir, QString::number(ppm));
        m_pcs.push_back(startPc(dir, timewarp, ppm));
        // The slave's player on its PC's clock and sound; PulseAudio's ALSA hook would take the default
        // device back where a PulseAudio server answers.
        writeFile(dir + QStringLiteral("/on-this-pc.sh"),
                  QStringLiteral("unset PULSE_SERVER\nexport PIPEWIRE_RUNTIME_DIR='%1' ALSA_CONFIG_PATH='%2'\nexec %3 \"$@\"\n")
                      .arg(m_pcs.back().pipeWire->runtimeDir(), m_pcs.back().alsaConfig, m_pcs.back().pipeWire->clockPrefix().join(QLatin1Char(' '))));
    }
    // The master, on the real clock, through the run's environment.
    qunsetenv("PULSE_SERVER");
    qputenv("PIPEWIRE_RUNTIME_DIR", m_pcs.front().pipeWire->runtimeDir().toLocal8Bit());
    qputenv("ALSA_CONFIG_PATH", m_pcs.front().alsaConfig.toLocal8Bit());
}

PipeWirePerPlayer::~PipeWirePerPlayer()
{
    qunsetenv("PIPEWIRE_RUNTIME_DIR");
    qunsetenv("ALSA_CONFIG_PATH");
}

QString PipeWirePerPlayer::slavePrefix() const
{
    return QStringLiteral("sh %1/on-this-pc.sh").arg(pcDir(m_workDir, QStringLiteral("{ppm}")));
}

HeardTicks PipeWirePerPlayer::stop()
{
    // PipeWire's null sink reports no latency of its own: the blocks are placed as they arrive. That puts
    // the sound one graph cycle after its frames, alike for every player's PC (1.2 to 1.5 ms with a cycle of
    // 64 frames, 5.1 to 5.6 ms at 256, 21.3 to 21.5 ms at 1024, which is 21.33 ms): the skew between players
    // holds, the sound against the picture is PulseAudio's rig's to measure.
    HeardTicks heard;
    for (PlayerPc& pc : m_pcs) {
        const Recording recording = pc.recorder->stop();
        const RecordingClock clock(recording, heard.sinkLatencyUs);
        std::vector<double> ticks;
        for (const std::int64_t frame : tickOnsets(recording, 0))
            ticks.push_back(clock.monoNsOf(frame) / 1000.0);
        heard.ticksUs.push_back(ticks);
        heard.scatterUs = std::max(heard.scatterUs, clock.scatterUs());
        heard.longestGapMs = std::max(heard.longestGapMs, longestGapMs(recording));
    }
    return heard;
}
