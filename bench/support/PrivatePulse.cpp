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

} // namespace

QString PrivatePulse::whyUnavailable()
{
    for (const char* program : {"pulseaudio", "parec", "pactl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return QStringLiteral("%1 is missing (pulseaudio, pulseaudio-utils)").arg(QLatin1String(program));
    }
    return QString();
}

PrivatePulse::PrivatePulse(const QString& workDir, const QStringList& players)
    : m_socket(workDir + QStringLiteral("/pulse.sock")), m_channels(int(players.size()))
{
    const QString home = workDir + QStringLiteral("/pulse-home");
    QDir().mkpath(home);
    QStringList channelMap;
    for (int i = 0; i < m_channels; ++i)
        channelMap << channelName(i);
    QStringList args{QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                     QStringLiteral("--disallow-exit"), QStringLiteral("--use-pid-file=no"),
                     QStringLiteral("--load=module-native-protocol-unix socket=%1 auth-anonymous=1").arg(m_socket),
                     QStringLiteral("--load=module-null-sink sink_name=all rate=%1 channels=%2 channel_map=%3")
                         .arg(kRate)
                         .arg(m_channels)
                         .arg(channelMap.join(QLatin1Char(',')))};
    for (int i = 0; i < m_channels; ++i)
        args << QStringLiteral("--load=module-remap-sink sink_name=%1 master=all channels=1 master_channel_map=%2 "
                               "channel_map=mono remix=no")
                    .arg(players[i], channelName(i));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(workDir + QStringLiteral("/pulse.log"));
    m_server.start(QStringLiteral("pulseaudio"), args);
    for (int waited = 0; waited < kStartTimeoutMs; waited += 100) {
        if (QFileInfo::exists(m_socket))
            return;
        if (m_server.state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    throw std::runtime_error("the private PulseAudio did not start; see " + workDir.toStdString() + "/pulse.log");
}

std::int64_t PrivatePulse::sinkLatencyUs() const
{
    QProcess pactl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));  // the words the pattern below reads
    pactl.setProcessEnvironment(environment);
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("--server=") + address(), QStringLiteral("list"), QStringLiteral("sinks")});
    pactl.waitForFinished(kStartTimeoutMs);
    // "Name: all" and, a few lines on, "Latency: 153 usec, configured 2000 usec".
    const QRegularExpression configured(QStringLiteral("Name: all\\n(?:.*\\n)*?\\s*Latency: \\d+ usec, configured (\\d+) usec"));
    const QRegularExpressionMatch match = configured.match(QString::fromUtf8(pactl.readAllStandardOutput()));
    if (!match.hasMatch())
        throw std::runtime_error("pactl did not say the null sink's latency");
    return match.captured(1).toLongLong();
}

PrivatePulse::~PrivatePulse()
{
    m_server.terminate();
    if (!m_server.waitForFinished(kStopTimeoutMs)) {
        m_server.kill();
        m_server.waitForFinished(kStopTimeoutMs);
    }
}
