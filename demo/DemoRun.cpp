// SPDX-License-Identifier: MIT
#include "DemoRun.h"

#include "EventLoopWait.h"
#include "LoopbackPlan.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <iterator>

namespace {

constexpr int kReadyTimeoutMs = 15000;
constexpr int kMasterAnswerMs = 5000;
constexpr int kDiscoveryTimeoutMs = 5000;
constexpr int kPreparedTimeoutMs = 5000;
constexpr int kClockSyncTimeoutMs = 10000;
constexpr int kCompleteTimeoutMs = 5000;
constexpr int kDeliveryTimeoutMs = 2000;
constexpr int kExitTimeoutMs = 5000;
constexpr int kFullWindowSamples = 10;  // the library's sliding mean covers ten samples
constexpr int kPlaybackPaceMs = 300;    // between playback commands, so the players' positions move

bool isEvent(const EventLine& line, const char* event)
{
    return line.event() == QLatin1String(event);
}

} // namespace

DemoRun::DemoRun(RunOptions options) : m_options(std::move(options)) {}

int DemoRun::exec()
{
    m_port = m_options.port ? m_options.port : pickFreePort();
    if (!m_port) {
        fail(QStringLiteral("no free UDP port on %1").arg(QLatin1String(kLoopbackMasterIp)));
        return 1;
    }
    printOutputLine(QStringLiteral("multinet-demo run: a master on %1 and %2 slaves on %3 to %4, loopback only, "
                                   "UDP port %5, group %6%7")
                        .arg(QLatin1String(kLoopbackMasterIp))
                        .arg(m_options.slaves)
                        .arg(loopbackSlaveIp(0), loopbackSlaveIp(m_options.slaves - 1))
                        .arg(m_port)
                        .arg(m_options.group)
                        .arg(m_options.keys ? QStringLiteral(", keys %1").arg(m_options.keys->ids()) : QString()));
    const bool stepsDone = runSteps();
    const bool endedCleanly = shutDown();
    return verdict(stepsDone, endedCleanly) ? 0 : 1;
}

bool DemoRun::runSteps()
{
    static const struct
    {
        const char* title;
        Step step;
    } kSteps[] = {
        {"start the processes", &DemoRun::startProcesses},
        {"discovery", &DemoRun::discover},
        {"prepare", &DemoRun::prepare},
        {"clock synchronisation", &DemoRun::synchroniseClocks},
        {"playback", &DemoRun::play},
        {"stop and complete", &DemoRun::stopAndComplete},
        {"roster and heartbeats", &DemoRun::readRoster},
    };
    const int count = int(std::size(kSteps));
    for (int i = 0; i < count; ++i) {
        m_stepResult.clear();
        m_stepDetails.clear();
        // Called through a reference: g++ 12 with -fsanitize=bounds reads an uninitialised index when the
        // array is indexed inside a pointer-to-member call, and reports a false out-of-bounds access.
        const auto& entry = kSteps[i];
        const bool ok = (this->*entry.step)();
        printStep(i + 1, count, entry.title, ok ? m_stepResult : QStringLiteral("FAILED"));
        for (const QString& detail : m_stepDetails)
            printOutputLine(detail);
        if (!ok)
            return false;
    }
    return true;
}

bool DemoRun::verdict(bool stepsDone, bool endedCleanly) const
{
    const std::vector<SlaveRecord> records = slaveRecords();
    const RunSummary summary(m_sent, records, m_roster);
    printOutputLine(QString());
    for (const QString& line : summary.tableLines())
        printOutputLine(line);
    printOutputLine(QString());

    QStringList shortfalls;
    if (!stepsDone)
        shortfalls.append(QStringLiteral("a step failed"));
    if (!summary.everyCommandDelivered())
        shortfalls.append(QStringLiteral("a command did not reach every slave"));
    if (!summary.everyOffsetFound())
        shortfalls.append(QStringLiteral("a clock offset was not found within %1 us").arg(RunSummary::kOffsetToleranceUs));
    if (!summary.everyLatencyPossible())
        shortfalls.append(QStringLiteral("a latency was negative, which is impossible"));
    if (!summary.everySlaveOnline())
        shortfalls.append(QStringLiteral("a slave was not on line"));
    if (!endedCleanly)
        shortfalls.append(QStringLiteral("a process did not end cleanly"));
    if (!shortfalls.isEmpty()) {
        printOutputLine(QStringLiteral("FAILED: ") + shortfalls.join(QStringLiteral("; ")) + QLatin1Char('.'));
        return false;
    }
    printOutputLine(QStringLiteral("OK: %1 commands reached each of the %2 slaves, every wait was met and every clock "
                                   "offset was found within %3 us.")
                        .arg(m_sent.size())
                        .arg(m_slaves.size())
                        .arg(RunSummary::kOffsetToleranceUs));
    return true;
}

bool DemoRun::startProcesses()
{
    const QString port = QString::number(m_port);
    const QString group = QString::number(m_options.group);
    // The players end with this process, even when it is killed.
    const QString parent = QString::number(QCoreApplication::applicationPid());
    const QStringList keyFile = m_options.keys ? QStringList{QStringLiteral("--key-file"), m_options.keys->path} : QStringList();
    QStringList keys;
    QStringList pids;
    for (int i = 0; i < m_options.slaves; ++i) {
        m_injectedOffsetsUs.push_back(injectedOffsetUs(i));
        // Every second player serves two layers, as a player with picture and sound layers might.
        m_slaveLayers.push_back(i % 2 ? QStringLiteral("0,1") : QStringLiteral("0"));
        m_rosterEntries += i % 2 ? 2 : 1;
        auto slave = std::make_unique<HostProcess>(
            QStringLiteral("slave %1").arg(loopbackSlaveIp(i)),
            QStringList{QStringLiteral("slave"), QStringLiteral("--ip"), loopbackSlaveIp(i), QStringLiteral("--port"), port,
                        QStringLiteral("--group"), group, QStringLiteral("--master"), QLatin1String(kLoopbackMasterIp),
                        QStringLiteral("--layers"), m_slaveLayers.back(), QStringLiteral("--clock-offset-us"),
                        QString::number(m_injectedOffsetsUs.back()), QStringLiteral("--parent"), parent}
                + keyFile,
            m_options.verbose);
        const bool started = slave->start(kReadyTimeoutMs);
        m_slaves.push_back(std::move(slave));
        if (!started)
            return fail(QStringLiteral("%1 did not start: %2").arg(m_slaves.back()->name(), m_slaves.back()->startFailure()),
                        m_slaves.back().get());
        keys.append(loopbackSlaveIp(i) + QLatin1Char('_') + QString::number(m_slaves.back()->pid()));
        pids.append(QString::number(m_slaves.back()->pid()));
    }
    m_master = std::make_unique<HostProcess>(
        QStringLiteral("master %1").arg(QLatin1String(kLoopbackMasterIp)),
        QStringList{QStringLiteral("master"), QStringLiteral("--ip"), QLatin1String(kLoopbackMasterIp), QStringLiteral("--port"),
                    port, QStringLiteral("--group"), group, QStringLiteral("--slaves"), keys.join(QLatin1Char(',')),
                    QStringLiteral("--parent"), parent}
            + keyFile,
        m_options.verbose);
    if (!m_master->start(kReadyTimeoutMs))
        return fail(QStringLiteral("the master did not start: %1").arg(m_master->startFailure()), m_master.get());
    m_stepResult = QStringLiteral("master pid %1, slaves %2").arg(m_master->pid()).arg(pids.join(QLatin1Char(' ')));
    return true;
}

bool DemoRun::discover()
{
    if (!askMaster(QStringLiteral("find"), QStringLiteral("sent"), kMasterAnswerMs))
        return false;
    if (!masterWait(QStringLiteral("roster %1").arg(m_rosterEntries), kDiscoveryTimeoutMs))
        return fail(QStringLiteral("the roster did not reach %1 entries (one per slave and layer) within %2 ms")
                        .arg(m_rosterEntries)
                        .arg(kDiscoveryTimeoutMs));
    m_stepResult = QStringLiteral("%1 roster entries, one per slave and layer").arg(m_rosterEntries);
    return true;
}

bool DemoRun::prepare()
{
    if (!sendPlayback(QStringLiteral("prepare")))
        return false;
    if (!masterWait(QStringLiteral("prepared"), kPreparedTimeoutMs))
        return fail(QStringLiteral("not every slave reported prepared within %1 ms").arg(kPreparedTimeoutMs));
    m_stepResult = QStringLiteral("every slave reported prepared");
    return true;
}

bool DemoRun::synchroniseClocks()
{
    if (!askMaster(QStringLiteral("clocksync"), QStringLiteral("sent"), kMasterAnswerMs))
        return false;
    if (!masterWait(QStringLiteral("clocksync"), kClockSyncTimeoutMs))
        return fail(QStringLiteral("not every slave reported its clock synchronised within %1 ms").arg(kClockSyncTimeoutMs));
    // The estimate settles once the sliding mean is full; a slave short of it only shows in its error.
    QElapsedTimer filling;
    filling.start();
    for (const auto& slave : m_slaves) {
        int samples = 0;
        slave->waitForEvent(
            [&](const EventLine& e) { return isEvent(e, "clock-offset") && ++samples >= kFullWindowSamples; },
            std::max(1, kClockSyncTimeoutMs - int(filling.elapsed())));
    }
    m_stepResult = QStringLiteral("every slave synchronised; each sliding mean held %1 samples %2 ms later")
                       .arg(kFullWindowSamples)
                       .arg(filling.elapsed());
    return true;
}

bool DemoRun::play()
{
    for (const char* line : {"start 0 1", "seek 30000 1 0", "speed 2", "pause 0", "step", "stepback"}) {
        if (!sendPlayback(QString::fromLatin1(line)))
            return false;
        runEventLoopFor(kPlaybackPaceMs);
    }
    m_stepResult = QStringLiteral("%1 commands, %2 ms apart").arg(m_stepDetails.size()).arg(kPlaybackPaceMs);
    return true;
}

bool DemoRun::stopAndComplete()
{
    if (!sendPlayback(QStringLiteral("stop 0")))
        return false;
    if (!masterWait(QStringLiteral("complete"), kCompleteTimeoutMs))
        return fail(QStringLiteral("not every slave reported complete within %1 ms").arg(kCompleteTimeoutMs));
    m_stepResult = QStringLiteral("every slave reported complete");
    return true;
}

bool DemoRun::readRoster()
{
    const std::size_t from = m_master->events().size();
    const std::optional<EventLine> status = askMaster(QStringLiteral("status"), QStringLiteral("status"), kMasterAnswerMs);
    if (!status)
        return false;
    m_roster.clear();
    for (std::size_t i = from; i < m_master->events().size(); ++i) {
        if (isEvent(m_master->events()[i], "roster"))
            m_roster.push_back(m_master->events()[i]);
    }
    const auto online = std::count_if(m_roster.begin(), m_roster.end(),
                                      [](const EventLine& e) { return e.integer(QStringLiteral("online")) == 1; });
    const bool allComplete = status->integer(QStringLiteral("all-complete")) == 1;
    m_stepResult = QStringLiteral("%1 of %2 entries on line, %3")
                       .arg(online)
                       .arg(m_roster.size())
                       .arg(allComplete ? QStringLiteral("all complete") : QStringLiteral("NOT all complete"));
    return allComplete;
}

bool DemoRun::shutDown()
{
    bool clean = true;
    if (m_master && m_master->running())
        askMaster(QStringLiteral("stopclocksync"), QStringLiteral("sent"), kMasterAnswerMs);
    // A process that never got ready has been reported already.
    for (const auto& slave : m_slaves)
        clean = (!slave->ready() || slave->finish(kExitTimeoutMs)) && clean;
    if (m_master && m_master->ready())
        clean = m_master->finish(kExitTimeoutMs) && clean;
    if (!clean) {
        for (const auto& slave : m_slaves)
            printOutputLine(slave->name() + QStringLiteral(":\n") + slave->recentOutput());
    }
    return clean;
}

bool DemoRun::sendPlayback(const QString& line)
{
    const std::optional<EventLine> sent = askMaster(line, QStringLiteral("sent"), kMasterAnswerMs);
    if (!sent)
        return false;
    if (sent->integer(QStringLiteral("result")) != 1)
        return fail(QStringLiteral("the master's library refused '%1'").arg(line), m_master.get());
    const SentCommand command{sent->value(QStringLiteral("command")), sent->value(QStringLiteral("user-data")),
                              sent->integer(QStringLiteral("mono-us"))};
    m_sent.push_back(command);

    QElapsedTimer delivery;
    delivery.start();
    for (const auto& slave : m_slaves) {
        slave->waitForEvent(
            [&](const EventLine& e) {
                return isEvent(e, "received") && e.value(QStringLiteral("user-data")) == command.tag;
            },
            std::max(1, kDeliveryTimeoutMs - int(delivery.elapsed())));
    }
    const std::vector<qint64> latencies = RunSummary::latenciesOf(command, slaveRecords());
    m_stepDetails.append(QStringLiteral("      %1 reached %2 slaves, latency median %3, worst %4")
                             .arg(command.name, -9)
                             .arg(QStringLiteral("%1/%2").arg(latencies.size()).arg(m_slaves.size()))
                             .arg(RunSummary::latencyText(RunSummary::median(latencies)))
                             .arg(RunSummary::latencyText(RunSummary::worst(latencies))));
    return true;  // a missing delivery shows in the summary and fails the run there
}

bool DemoRun::masterWait(const QString& what, int timeoutMs)
{
    // The master's own time-out ends its wait; the extra second covers its answer.
    const std::optional<EventLine> waited =
        askMaster(QStringLiteral("wait %1 %2").arg(what).arg(timeoutMs), QStringLiteral("waited"), timeoutMs + 1000);
    return waited && waited->integer(QStringLiteral("met")) == 1;
}

std::optional<EventLine> DemoRun::askMaster(const QString& line, const QString& event, int timeoutMs)
{
    const std::size_t from = m_master->events().size();
    m_master->send(line);
    const int index = m_master->waitForEvent([&](const EventLine& e) { return e.event() == event; }, timeoutMs, from);
    if (index < 0) {
        fail(QStringLiteral("the master did not answer '%1' within %2 ms").arg(line).arg(timeoutMs), m_master.get());
        return std::nullopt;
    }
    return m_master->events()[std::size_t(index)];
}

bool DemoRun::fail(const QString& message, const HostProcess* culprit)
{
    printOutputLine(QStringLiteral("error: ") + message);
    if (culprit)
        printOutputLine(QStringLiteral("  last lines of the %1:\n%2").arg(culprit->name(), culprit->recentOutput()));
    return false;
}

void DemoRun::printStep(int number, int count, const char* title, const QString& result) const
{
    printOutputLine(QStringLiteral("[%1/%2] %3 %4").arg(number).arg(count).arg(QLatin1String(title), -22).arg(result));
}

std::vector<SlaveRecord> DemoRun::slaveRecords() const
{
    std::vector<SlaveRecord> records;
    for (std::size_t i = 0; i < m_slaves.size(); ++i)
        records.push_back(SlaveRecord{loopbackSlaveIp(int(i)), m_slaves[i]->pid(), m_slaveLayers[i], m_injectedOffsetsUs[i],
                                      &m_slaves[i]->events()});
    return records;
}
