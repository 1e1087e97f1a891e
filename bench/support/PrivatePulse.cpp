// SPDX-License-Identifier: MIT
#include "support/PrivatePulse.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <stdexcept>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 3000;

QString channelName(int channel)
{
    return QStringLiteral("aux%1").arg(channel);
}

// The null sink "all" of a channel per player, and a mono sink per player into its channel alone.
QStringList sinkModules(const QStringList& players, int rate)
{
    QStringList channelMap;
    for (int i = 0; i < players.size(); ++i)
        channelMap << channelName(i);
    QStringList modules{QStringLiteral("module-null-sink sink_name=all rate=%1 channels=%2 channel_map=%3")
                            .arg(rate)
                            .arg(players.size())
                            .arg(channelMap.join(QLatin1Char(',')))};
    for (int i = 0; i < players.size(); ++i)
        modules << QStringLiteral("module-remap-sink sink_name=%1 master=all channels=1 master_channel_map=%2 "
                                  "channel_map=mono remix=no")
                       .arg(players[i], channelName(i));
    return modules;
}

} // namespace

QString PrivatePulse::whyUnavailable(SoundServer server)
{
    for (const char* program : {"parec", "pactl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return QStringLiteral("%1 is missing (pulseaudio-utils)").arg(QLatin1String(program));
    }
    if (server == SoundServer::PipeWire)
        return PrivatePipeWire::whyUnavailable();
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
        return QStringLiteral("pulseaudio is missing (pulseaudio)");
    return QString();
}

PrivatePulse::PrivatePulse(const QString& workDir, const QStringList& players, SoundServer server)
    : m_channels(int(players.size()))
{
    const QStringList modules = sinkModules(players, kRate);
    if (server == SoundServer::PulseAudio) {
        startPulseAudio(workDir, modules);
        return;
    }
    m_pipeWire = std::make_unique<PrivatePipeWire>(workDir, kRate);
    m_address = m_pipeWire->pulseAddress();
    for (const QString& module : modules)
        pactl(QStringList{QStringLiteral("load-module")} + module.split(QLatin1Char(' ')));
    // Each mono sink is linked into its channel by the session manager, a moment after it is loaded.
    m_pipeWire->waitForLinksInto(QStringLiteral("all"), m_channels);
}

void PrivatePulse::startPulseAudio(const QString& workDir, const QStringList& modules)
{
    const QString socket = workDir + QStringLiteral("/pulse.sock");
    m_address = QStringLiteral("unix:") + socket;
    const QString home = workDir + QStringLiteral("/pulse-home");
    QDir().mkpath(home);
    QStringList args{QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                     QStringLiteral("--disallow-exit"), QStringLiteral("--use-pid-file=no"),
                     QStringLiteral("--load=module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket)};
    for (const QString& module : modules)
        args << QStringLiteral("--load=") + module;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    m_pulseAudio.setProcessEnvironment(environment);
    m_pulseAudio.setProcessChannelMode(QProcess::MergedChannels);
    m_pulseAudio.setStandardOutputFile(workDir + QStringLiteral("/pulse.log"));
    m_pulseAudio.start(QStringLiteral("pulseaudio"), args);
    for (int waited = 0; waited < kStartTimeoutMs; waited += 100) {
        if (QFileInfo::exists(socket))
            return;
        if (m_pulseAudio.state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    throw std::runtime_error("the private PulseAudio did not start; see " + workDir.toStdString() + "/pulse.log");
}

QString PrivatePulse::pactl(const QStringList& args) const
{
    QProcess pactl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    pactl.setProcessEnvironment(environment);
    pactl.start(QStringLiteral("pactl"), QStringList{QStringLiteral("--server=") + m_address} + args);
    if (!pactl.waitForFinished(kStartTimeoutMs) || pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0)
        throw std::runtime_error("pactl " + args.join(QLatin1Char(' ')).toStdString() + " failed: " +
                                 pactl.readAllStandardError().trimmed().toStdString());
    return QString::fromUtf8(pactl.readAllStandardOutput());
}

std::int64_t PrivatePulse::sinkLatencyUs() const
{
    // "Name: all" and, a few lines on, "Latency: 153 usec, configured 2000 usec".
    const QRegularExpression configured(QStringLiteral("Name: all\\n(?:.*\\n)*?\\s*Latency: \\d+ usec, configured (\\d+) usec"));
    const QRegularExpressionMatch match = configured.match(pactl({QStringLiteral("list"), QStringLiteral("sinks")}));
    if (!match.hasMatch())
        throw std::runtime_error("pactl did not say the null sink's latency");
    return match.captured(1).toLongLong();
}

PrivatePulse::~PrivatePulse()
{
    if (!m_pipeWire) {
        m_pulseAudio.terminate();
        if (!m_pulseAudio.waitForFinished(kStopTimeoutMs)) {
            m_pulseAudio.kill();
            m_pulseAudio.waitForFinished(kStopTimeoutMs);
        }
    }
}
