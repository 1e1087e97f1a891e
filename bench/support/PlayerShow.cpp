// SPDX-License-Identifier: MIT
#include "support/PlayerShow.h"

#include "support/BenchClock.h"
#include "support/PlayerBinary.h"
#include "support/PortPicker.h"

#include "EventLoopWait.h"
#include "LoopbackPlan.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int kReadyTimeoutMs = 15000;
constexpr int kStartTimeoutMs = 30000;
constexpr int kHealthTimeoutMs = 3000;
constexpr int kExitTimeoutMs = 10000;
// Any 32 bytes, as 64 hex digits: every player of a keyed show holds the same.
constexpr char kKeyLine[] = "1 74616d6f2d62656e63682d706c617965722d73686f772d6b65792d2d2d212121\n";
constexpr char kToken[] = "bench-operator-token-0123456789\n";

void writePrivateFile(const QString& path, const char* text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) < 0
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw std::runtime_error("cannot write " + path.toStdString());
}

[[noreturn]] void notStarted(const HostProcess& process)
{
    throw std::runtime_error(process.name().toStdString() + " did not start: " + process.startFailure().toStdString()
                             + "\n" + process.recentOutput().toStdString());
}

} // namespace

PlayerShow::PlayerShow(const PlayerShowSettings& settings) : m_settings(settings)
{
    writeKeyFiles();
    const QString port = QString::number(pickFreeGroupPort());
    auto common = [&](const QString& ip, const QString& frameLog) {
        QStringList args{QStringLiteral("--ip"), ip, QStringLiteral("--port"), port, QStringLiteral("--frame-log"), frameLog,
                         QStringLiteral("--headless")};
        if (m_settings.keyed)
            args << QStringLiteral("--key-file") << path(QStringLiteral(".key"));
        return args;
    };
    for (int i = 0; i < m_settings.slaves; ++i) {
        const QStringList args = QStringList{QStringLiteral("slave")} + common(loopbackSlaveIp(i), slaveFrameLog(i))
                                 + QStringList{QStringLiteral("--master"), QLatin1String(kLoopbackMasterIp),
                                               QStringLiteral("--clock-offset-us"), QString::number(injectedOffsetUs(i))};
        m_slaves.push_back(std::make_unique<HostProcess>(QStringLiteral("slave %1").arg(i + 1), args, false, playerPath()));
        if (!m_slaves.back()->start(kReadyTimeoutMs))
            notStarted(*m_slaves.back());
        m_slaveKeys.push_back(loopbackSlaveIp(i) + QLatin1Char('_')
                              + QString::number(m_slaves.back()->readyLine().integer(QStringLiteral("pid"))));
    }
    QStringList keys;
    for (const QString& key : m_slaveKeys)
        keys << key;
    const QStringList args = QStringList{QStringLiteral("master")} + common(QLatin1String(kLoopbackMasterIp), masterFrameLog())
                             + QStringList{QStringLiteral("--slaves"), keys.join(QLatin1Char(',')), QStringLiteral("--media"),
                                           m_settings.clip, QStringLiteral("--loop"), QStringLiteral("--operator"),
                                           QStringLiteral("127.0.0.1:0"), QStringLiteral("--operator-token-file"),
                                           path(QStringLiteral(".token"))};
    m_master = std::make_unique<HostProcess>(QStringLiteral("master"), args, false, playerPath());
    if (!m_master->start(kReadyTimeoutMs))
        notStarted(*m_master);
    const int url = m_master->waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("operator"); },
                                           kReadyTimeoutMs);
    const int started = m_master->waitForEvent(
        [](const EventLine& e) {
            return e.event() == QLatin1String("session") && e.value(QStringLiteral("step")) == QLatin1String("start");
        },
        kStartTimeoutMs);
    if (url < 0 || started < 0)
        throw std::runtime_error("the master did not start the programme:\n" + m_master->recentOutput().toStdString());
    m_startedNs = monotonicNs();
    if (m_settings.pageOpen)
        openPage(m_master->events()[std::size_t(url)].value(QStringLiteral("url")));
}

PlayerShow::~PlayerShow()
{
    if (m_page.state() != QProcess::NotRunning) {
        m_page.kill();
        m_page.waitForFinished(2000);
    }
}

void PlayerShow::waitMs(int ms)
{
    runEventLoopFor(ms);
}

std::vector<HealthReading> PlayerShow::readHealth()
{
    const std::size_t from = m_master->events().size();
    HealthReading reading;
    reading.monoNs = monotonicNs();
    m_master->send(QStringLiteral("health"));
    std::vector<HealthReading> readings;
    std::size_t next = from;
    for (int i = 0; i < m_settings.slaves; ++i) {
        const int found = m_master->waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("health"); },
                                                 kHealthTimeoutMs, next);
        if (found < 0)
            break;
        next = std::size_t(found) + 1;
        const EventLine& line = m_master->events()[std::size_t(found)];
        const auto slave = std::find(m_slaveKeys.begin(), m_slaveKeys.end(), line.value(QStringLiteral("key")));
        if (slave == m_slaveKeys.end())
            continue;
        reading.slave = int(slave - m_slaveKeys.begin());
        reading.known = line.integer(QStringLiteral("known")) == 1;
        reading.offsetUs = line.real(QStringLiteral("offset-us"));
        reading.ageMs = line.integer(QStringLiteral("age-ms"));
        reading.presentationKnown = line.has(QStringLiteral("late-p99-us"));
        reading.lateP50Us = line.integer(QStringLiteral("late-p50-us"));
        reading.lateP99Us = line.integer(QStringLiteral("late-p99-us"));
        reading.framesDropped = line.integer(QStringLiteral("dropped"));
        readings.push_back(reading);
    }
    return readings;
}

void PlayerShow::finish()
{
    const bool pageHeld = !m_settings.pageOpen || m_page.state() == QProcess::Running;
    if (m_page.state() != QProcess::NotRunning) {
        m_page.terminate();
        m_page.waitForFinished(2000);
    }
    bool clean = m_master->finish(kExitTimeoutMs);
    for (const auto& slave : m_slaves)
        clean = slave->finish(kExitTimeoutMs) && clean;
    if (!clean)
        throw std::runtime_error("a player of the show did not end cleanly:\n" + m_master->recentOutput().toStdString());
    if (!pageHeld)
        throw std::runtime_error("the page's event stream ended before the show did");
}

QString PlayerShow::masterFrameLog() const
{
    return path(QStringLiteral("-master.frames"));
}

QString PlayerShow::slaveFrameLog(int slave) const
{
    return path(QStringLiteral("-slave%1.frames").arg(slave + 1));
}

std::int64_t PlayerShow::injectedOffsetUs(int slave) const
{
    return ::injectedOffsetUs(slave);
}

QString PlayerShow::path(const QString& suffix) const
{
    return m_settings.workDir + QLatin1Char('/') + m_settings.name + suffix;
}

void PlayerShow::writeKeyFiles() const
{
    writePrivateFile(path(QStringLiteral(".token")), kToken);
    if (m_settings.keyed)
        writePrivateFile(path(QStringLiteral(".key")), kKeyLine);
}

void PlayerShow::openPage(const QString& url)
{
    // curl holds the stream open as a page does and throws away what it is sent.
    m_page.setStandardOutputFile(QProcess::nullDevice());
    m_page.setStandardErrorFile(QProcess::nullDevice());
    m_page.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-N"), url + QStringLiteral("api/events")});
    if (!m_page.waitForStarted(kReadyTimeoutMs))
        throw std::runtime_error("cannot open the page's event stream with curl: " + m_page.errorString().toStdString());
}
