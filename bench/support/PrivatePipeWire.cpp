// SPDX-License-Identifier: MIT
#include "support/PrivatePipeWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <stdexcept>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 3000;
constexpr int kPollMs = 100;

// A mono null sink named `name`, kept when nothing plays into it.
QString nullSinkObject(const QString& name, int rate)
{
    return QStringLiteral(R"(
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = %1 media.class = Audio/Sink
               audio.position = [ MONO ] audio.rate = %2 object.linger = true monitor.channel-volumes = true } })")
        .arg(name)
        .arg(rate);
}

// The daemon's modules are those of the packaged configuration less the desktop's (portal, X11 bell,
// devices). Its clock runs at one rate, so that nothing is resampled in the graph; the smallest quantum
// stays below the recorder's 2 ms (the package's VM override would hold it at 1024 frames).
QString daemonConfig(int rate, const QString& ownSink)
{
    return QStringLiteral(R"(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = %1
    default.clock.allowed-rates = [ %1 ]
    default.clock.min-quantum = 64
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver node.group = pipewire.dummy priority.driver = 20000 } }%2
]
)")
        .arg(rate)
        .arg(ownSink.isEmpty() ? QString() : nullSinkObject(ownSink, rate));
}

// The PulseAudio server is a client of the daemon, as the packaged pipewire-pulse is.
QString pulseConfig(const QString& socket)
{
    return QStringLiteral(R"(context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse args = { server.address = [ "unix:%1" ] } }
]
)")
        .arg(socket);
}

void writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

QString PrivatePipeWire::whyUnavailable()
{
    for (const char* program : {"pipewire", "wireplumber", "pw-link", "dbus-daemon"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return QStringLiteral("%1 is missing (pipewire, wireplumber, dbus)").arg(QLatin1String(program));
    }
    return QString();
}

PrivatePipeWire::PrivatePipeWire(const QString& workDir, int rate, const PipeWireOptions& options)
    : m_workDir(workDir),
      m_runtimeDir(workDir + QStringLiteral("/pipewire-run")),
      m_pulseSocket(workDir + QStringLiteral("/pulse.sock")),
      m_busSocket(workDir + QStringLiteral("/bus.sock"))
{
    QDir().mkpath(m_runtimeDir);
    const QString daemonConf = workDir + QStringLiteral("/pipewire.conf");
    const QString pulseConf = workDir + QStringLiteral("/pipewire-pulse.conf");
    writeFile(daemonConf, daemonConfig(rate, options.ownSink));
    writeFile(pulseConf, pulseConfig(m_pulseSocket));
    const QString ppm = QString::number(options.ppm);
    const QStringList warp = options.timewarp.isEmpty() ? QStringList() : QStringList{options.timewarp, ppm};
    const QProcess& daemon = start(warp + QStringList{QStringLiteral("pipewire"), QStringLiteral("-c"), daemonConf},
                                   QStringLiteral("pipewire.log"), m_runtimeDir + QStringLiteral("/pipewire-0"));
    if (!warp.isEmpty())
        m_clockPrefix = QStringList{options.timewarp, QStringLiteral("--clock-of"), QString::number(daemon.processId()), ppm};
    start({QStringLiteral("dbus-daemon"), QStringLiteral("--session"), QStringLiteral("--nofork"),
           QStringLiteral("--address=unix:path=") + m_busSocket},
          QStringLiteral("dbus.log"), m_busSocket);
    // WirePlumber gives up without a session bus; it needs nothing else of one here.
    start(m_clockPrefix + QStringList{QStringLiteral("wireplumber")}, QStringLiteral("wireplumber.log"), QString());
    if (options.ownSink.isEmpty())
        start(m_clockPrefix + QStringList{QStringLiteral("pipewire"), QStringLiteral("-c"), pulseConf}, QStringLiteral("pipewire-pulse.log"),
              m_pulseSocket);
}

PrivatePipeWire::~PrivatePipeWire()
{
    for (auto process = m_processes.rbegin(); process != m_processes.rend(); ++process) {
        (*process)->terminate();
        if (!(*process)->waitForFinished(kStopTimeoutMs)) {
            (*process)->kill();
            (*process)->waitForFinished(kStopTimeoutMs);
        }
    }
}

QProcessEnvironment PrivatePipeWire::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_runtimeDir);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + m_busSocket);
    environment.insert(QStringLiteral("HOME"), m_workDir);
    return environment;
}

const QProcess& PrivatePipeWire::start(const QStringList& command, const QString& log, const QString& readyPath)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess& process = *m_processes.back();
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(m_workDir + QLatin1Char('/') + log);
    process.start(command.front(), command.mid(1));
    if (process.waitForStarted(kStartTimeoutMs)) {
        for (int waited = 0; waited < kStartTimeoutMs; waited += kPollMs) {
            if (readyPath.isEmpty() || QFileInfo::exists(readyPath))
                return process;
            if (process.waitForFinished(kPollMs))
                break;
        }
    }
    throw std::runtime_error("the private PipeWire's " + command.join(QLatin1Char(' ')).toStdString() + " did not start; see " +
                             m_workDir.toStdString() + "/" + log.toStdString());
}

int PrivatePipeWire::linksAt(const QString& portPrefix, bool into) const
{
    QProcess pwLink;
    pwLink.setProcessEnvironment(environment());
    pwLink.start(QStringLiteral("pw-link"), {QStringLiteral("--links"), into ? QStringLiteral("--input") : QStringLiteral("--output")});
    pwLink.waitForFinished(kStartTimeoutMs);
    // One line per port, "<node>:<port>", then "  |<- <node>:<port>" (or "|->") for each link.
    const QString arrow = into ? QStringLiteral("|<-") : QStringLiteral("|->");
    int linked = 0;
    bool atPort = false;
    for (const QString& line : QString::fromUtf8(pwLink.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char(' ')))
            atPort = line.startsWith(portPrefix);
        else if (atPort && line.contains(arrow))
            ++linked;
    }
    return linked;
}

bool PrivatePipeWire::waitForLinks(const QString& portPrefix, bool into, int links, int timeoutMs) const
{
    for (int waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (linksAt(portPrefix, into) >= links)
            return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

void PrivatePipeWire::waitForLinksInto(const QString& sink, int links) const
{
    if (!waitForLinks(sink + QStringLiteral(":playback_"), true, links, kStartTimeoutMs))
        throw std::runtime_error("the private PipeWire's session manager did not link the sinks; see " + m_workDir.toStdString() +
                                 "/wireplumber.log");
}

bool PrivatePipeWire::monitorLinked(const QString& sink, int timeoutMs) const
{
    return waitForLinks(sink + QStringLiteral(":monitor_"), false, 1, timeoutMs);
}
