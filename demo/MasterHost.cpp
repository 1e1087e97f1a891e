// SPDX-License-Identifier: MIT
#include "MasterHost.h"

#include "EventLine.h"
#include "EventLoopWait.h"
#include "HostStartup.h"
#include "KeyedGroup.h"
#include "TextTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr int kWaitPollMs = 5;
constexpr qint64 kLongestWaitMs = 600000;
constexpr qint64 kDefaultWaitMs = 10000;

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

// The master's host needs only its clock: no command comes to it.
NetControlNS::slaveControlCbk clockOnly(const HostClock& clock)
{
    NetControlNS::slaveControlCbk callbacks;
    callbacks.getClockTimeCbk = [&clock] { return clock.nowUs(); };
    return callbacks;
}

} // namespace

const std::vector<MasterHost::Command>& MasterHost::commands()
{
    static const std::vector<Command> kCommands = {
        {"find", "", "search for slaves; the roster fills as they answer", 0, &MasterHost::find},
        {"prepare", "[LAYER]", "slaves prepare; they report prepared", 1, &MasterHost::prepare},
        {"start", "[FROM_S=0] [SPEED=1] [LAYER]", "play from FROM_S seconds at SPEED", 3, &MasterHost::start},
        {"pause", "[VALUE=0] [LAYER]", "pause (VALUE is passed through)", 2, &MasterHost::pause},
        {"stop", "[VALUE=0] [LAYER]", "stop; slaves report complete (VALUE is passed through)", 2, &MasterHost::stop},
        {"seek", "POSITION_MS [FLAG=0] [VALUE=0] [LAYER]", "seek to POSITION_MS (FLAG, VALUE passed through)", 4,
         &MasterHost::seek},
        {"speed", "SPEED [LAYER]", "play at SPEED", 2, &MasterHost::speed},
        {"step", "[LAYER]", "one frame forward", 1, &MasterHost::step},
        {"stepback", "[LAYER]", "one frame back", 1, &MasterHost::stepBack},
        {"clocksync", "", "slaves start clock synchronisation and heartbeats", 0, &MasterHost::clockSync},
        {"stopclocksync", "", "slaves stop clock synchronisation and heartbeats", 0, &MasterHost::stopClockSync},
        {"status", "", "the roster as a table, and what a keyed group dropped", 0, &MasterHost::status},
        {"wait", "roster COUNT | prepared | complete | clocksync [TIMEOUT_MS=10000]",
         "wait until the roster holds COUNT entries, or all are prepared, complete or synchronised", 3,
         &MasterHost::wait},
        {"sleep", "MS", "let MS milliseconds pass", 1, &MasterHost::sleep},
        {"help", "", "this list", 0, &MasterHost::help},
        {"quit", "", "end the program", 0, &MasterHost::quit},
    };
    return kCommands;
}

MasterHost::MasterHost(MasterOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs),
      m_callbacks(clockOnly(m_clock)),
      m_control(&m_callbacks, m_options.group, m_options.ip.toStdString(), m_options.port),
      m_input([this](const QString& line) { execute(line); }, [this] { execute(QStringLiteral("quit")); })
{
    m_keys = keepKeys(m_options.keys, m_control, QStringLiteral("multinet-demo master"));
    m_control.setMasterFlag(true);
    m_control.setSlaves(m_options.slaves);
}

int MasterHost::exec()
{
    if (!listeningOrSayWhy(m_control.isListening(), m_control.errorString(), QStringLiteral("multinet-demo master")))
        return 1;
    if (m_options.parentPid && !endWithParent(m_options.parentPid))
        return 1;
    EventLine(QStringLiteral("ready"))
        .add(QStringLiteral("role"), "master")
        .add(QStringLiteral("ip"), m_options.ip)
        .add(QStringLiteral("port"), int(m_options.port))
        .add(QStringLiteral("group"), m_options.group)
        .add(QStringLiteral("pid"), QCoreApplication::applicationPid())
        .add(QStringLiteral("slaves"), int(m_options.slaves.size()))
        .add(QStringLiteral("clock-offset-us"), m_options.clockOffsetUs)
        .print();
    printOutputLine(QStringLiteral("Master ready. Type 'help' for the commands."));
    const int status = QCoreApplication::exec();
    if (m_unmetWaits == 0)
        return status;
    // A script whose waits were not met has failed, whatever came after them.
    printOutputLine(QStringLiteral("multinet-demo master: %1 wait(s) not met").arg(m_unmetWaits));
    return 1;
}

void MasterHost::execute(const QString& line)
{
    QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (m_quitting || words.isEmpty() || words.front().startsWith(QLatin1Char('#')))
        return;
    const QString name = words.takeFirst().toLower();
    for (const Command& command : commands()) {
        if (name != QLatin1String(command.name))
            continue;
        CommandArgs args(name, words);
        if (args.count() > command.mostValues) {
            printOutputLine(QStringLiteral("multinet-demo master: %1 takes %2 (got '%3')")
                                .arg(name, QLatin1String(*command.values ? command.values : "no values"), line));
            return;
        }
        (this->*command.handler)(args);
        if (!args.ok())
            printOutputLine(QStringLiteral("multinet-demo master: %1; the line was ignored").arg(args.error()));
        return;
    }
    printOutputLine(QStringLiteral("multinet-demo master: unknown command '%1' ('help' lists the commands)").arg(name));
}

void MasterHost::sendPlayback(const char* name, int layerId, const std::function<bool(char*, int)>& send)
{
    QByteArray tag = "cmd" + QByteArray::number(m_nextTag++);
    const qint64 mono = HostClock::monotonicUs();
    const bool result = send(tag.data(), int(tag.size()));
    printSent(name, result, mono, layerId, tag);
}

void MasterHost::printSent(const char* name, bool result, qint64 monoUs, int layerId, const QByteArray& tag)
{
    EventLine sent(QStringLiteral("sent"));
    sent.add(QStringLiteral("command"), name).add(QStringLiteral("layer"), layerId);
    if (!tag.isEmpty())
        sent.add(QStringLiteral("user-data"), QString::fromLatin1(tag));
    sent.add(QStringLiteral("mono-us"), monoUs).add(QStringLiteral("result"), result).print();
}

void MasterHost::find(CommandArgs&)
{
    const qint64 mono = HostClock::monotonicUs();
    printSent("find", m_control.findSlavePlayer(), mono);
}

void MasterHost::prepare(CommandArgs& args)
{
    const int layer = args.layer(0);
    if (!args.ok())
        return;
    sendPlayback("prepare", layer, [&](char* tag, int len) { return m_control.notifySlavePrepareAsync(layer, tag, len); });
}

void MasterHost::start(CommandArgs& args)
{
    const double from = args.real(0, "FROM_S", 0.0);
    const double speed = args.real(1, "SPEED", 1.0);
    const int layer = args.layer(2);
    if (!args.ok())
        return;
    sendPlayback("start", layer, [&](char* tag, int len) { return m_control.notifySlaveStart(from, speed, layer, tag, len); });
}

void MasterHost::pause(CommandArgs& args)
{
    const double value = args.real(0, "VALUE", 0.0);
    const int layer = args.layer(1);
    if (!args.ok())
        return;
    sendPlayback("pause", layer, [&](char* tag, int len) { return m_control.notifySlavePause(value, layer, tag, len); });
}

void MasterHost::stop(CommandArgs& args)
{
    const double value = args.real(0, "VALUE", 0.0);
    const int layer = args.layer(1);
    if (!args.ok())
        return;
    sendPlayback("stop", layer, [&](char* tag, int len) { return m_control.notifySlaveStop(value, layer, tag, len); });
}

void MasterHost::seek(CommandArgs& args)
{
    if (args.count() < 1) {
        printOutputLine(QStringLiteral("multinet-demo master: seek needs POSITION_MS; the line was ignored"));
        return;
    }
    constexpr qint64 kTenYearsMs = 10LL * 366 * 86400 * 1000;
    const qint64 position = args.integer(0, "POSITION_MS", 0, -kTenYearsMs, kTenYearsMs);
    const bool flag = args.flag(1, "FLAG", false);
    const double value = args.real(2, "VALUE", 0.0);
    const int layer = args.layer(3);
    if (!args.ok())
        return;
    sendPlayback("seek", layer,
                 [&](char* tag, int len) { return m_control.notifySlaveSeek(position, flag, layer, value, tag, len); });
}

void MasterHost::speed(CommandArgs& args)
{
    if (args.count() < 1) {
        printOutputLine(QStringLiteral("multinet-demo master: speed needs SPEED; the line was ignored"));
        return;
    }
    const double speed = args.real(0, "SPEED", 1.0);
    const int layer = args.layer(1);
    if (!args.ok())
        return;
    sendPlayback("speed", layer, [&](char* tag, int len) { return m_control.notifySlaveSpeed(speed, layer, tag, len); });
}

void MasterHost::step(CommandArgs& args)
{
    const int layer = args.layer(0);
    if (!args.ok())
        return;
    sendPlayback("step", layer, [&](char* tag, int len) { return m_control.notifySlaveStep(layer, tag, len); });
}

void MasterHost::stepBack(CommandArgs& args)
{
    const int layer = args.layer(0);
    if (!args.ok())
        return;
    sendPlayback("stepback", layer, [&](char* tag, int len) { return m_control.notifySlaveStepBack(layer, tag, len); });
}

void MasterHost::clockSync(CommandArgs&)
{
    // The library sends the start once per process; this host allows it again after a stop.
    MultiNetControl::m_haveStartClockSync = false;
    const qint64 mono = HostClock::monotonicUs();
    printSent("clocksync", m_control.notifySlaveStartClockSync(), mono);
}

void MasterHost::stopClockSync(CommandArgs&)
{
    const qint64 mono = HostClock::monotonicUs();
    printSent("stopclocksync", m_control.notifySlaveStopClockSync(), mono);
}

void MasterHost::status(CommandArgs&)
{
    const bool allPrepared = m_control.isAllSlavePrepared(-1);
    const bool allComplete = m_control.isAllSlaveComplete(-1);
    const bool allClockSynced = m_control.isAllSlaveClockSucced();
    const std::vector<NetControlNS::struAddress> roster = m_control.getSlavesPlayer();
    const qint64 now = m_clock.nowUs();

    TextTable table({QStringLiteral("ip"), QStringLiteral("port"), QStringLiteral("process"), QStringLiteral("layer"),
                     QStringLiteral("prepared"), QStringLiteral("complete"), QStringLiteral("clock synced"),
                     QStringLiteral("last seen")});
    for (const NetControlNS::struAddress& entry : roster) {
        const bool online = now - entry.lastOnlineTime <= MultiNetControl::kSlaveOfflineAfterUs;
        const qint64 agoMs = entry.lastOnlineTime < 0 ? -1 : (now - entry.lastOnlineTime) / 1000;
        QString seen = agoMs < 0 ? QStringLiteral("never") : QStringLiteral("%1 s ago").arg(double(agoMs) / 1000.0, 0, 'f', 1);
        if (!online)
            seen += QStringLiteral(" (off line)");
        table.addRow({QString::fromStdString(entry.ip), QString::number(entry.port), QString::number(entry.processId),
                      QString::number(entry.layerId), yesNo(entry.isPrepared), yesNo(entry.isComplete),
                      yesNo(entry.isClockSynced), seen});
        EventLine(QStringLiteral("roster"))
            .add(QStringLiteral("ip"), QString::fromStdString(entry.ip))
            .add(QStringLiteral("port"), entry.port)
            .add(QStringLiteral("pid"), entry.processId)
            .add(QStringLiteral("layer"), entry.layerId)
            .add(QStringLiteral("prepared"), entry.isPrepared)
            .add(QStringLiteral("complete"), entry.isComplete)
            .add(QStringLiteral("clock-synced"), entry.isClockSynced)
            .add(QStringLiteral("last-seen-ms-ago"), agoMs)
            .add(QStringLiteral("online"), online)
            .print();
    }
    for (const QString& line : table.lines())
        printOutputLine(line);
    printDropCounts(m_control.getDropCounts());
    EventLine(QStringLiteral("status"))
        .add(QStringLiteral("entries"), int(roster.size()))
        .add(QStringLiteral("all-prepared"), allPrepared)
        .add(QStringLiteral("all-complete"), allComplete)
        .add(QStringLiteral("all-clock-synced"), allClockSynced)
        .print();
}

void MasterHost::wait(CommandArgs& args)
{
    const QString what = args.text(0, QString());
    const qint64 rosterCount = what == QLatin1String("roster") ? args.integer(1, "COUNT", 1, 1, 100000) : 0;
    const qint64 timeoutMs =
        args.integer(rosterCount ? 2 : 1, "TIMEOUT_MS", kDefaultWaitMs, 0, kLongestWaitMs);
    if (!args.ok())
        return;
    // The roster copy is read quietly at every poll; the library's own test, which prints a line per
    // entry, is asked only once the copy says yes. An empty roster never meets a wait.
    using Entry = NetControlNS::struAddress;
    std::function<bool(const Entry&)> entryDone;
    std::function<bool()> libraryAgrees;
    if (rosterCount) {
        libraryAgrees = [this, rosterCount] { return qint64(m_control.getSlavesPlayer().size()) >= rosterCount; };
    } else if (what == QLatin1String("prepared")) {
        entryDone = [](const Entry& e) { return e.isPrepared; };
        libraryAgrees = [this] { return m_control.isAllSlavePrepared(-1); };
    } else if (what == QLatin1String("complete")) {
        entryDone = [this](const Entry& e) { return e.isComplete || m_clock.nowUs() - e.lastOnlineTime > MultiNetControl::kSlaveOfflineAfterUs; };
        libraryAgrees = [this] { return m_control.isAllSlaveComplete(-1); };
    } else if (what == QLatin1String("clocksync")) {
        entryDone = [](const Entry& e) { return e.isClockSynced; };
        libraryAgrees = [this] { return m_control.isAllSlaveClockSucced(); };
    } else {
        printOutputLine(QStringLiteral("multinet-demo master: wait takes roster COUNT, prepared, complete or clocksync; "
                                       "the line was ignored"));
        return;
    }
    auto met = [&] {
        if (entryDone) {
            const std::vector<Entry> roster = m_control.getSlavesPlayer();
            if (roster.empty() || !std::all_of(roster.begin(), roster.end(), entryDone))
                return false;
        }
        return libraryAgrees();
    };
    QElapsedTimer waited;
    waited.start();
    const bool ok = runEventLoopUntil(met, int(timeoutMs), kWaitPollMs);
    m_unmetWaits += ok ? 0 : 1;
    EventLine(QStringLiteral("waited"))
        .add(QStringLiteral("what"), what)
        .add(QStringLiteral("met"), ok)
        .add(QStringLiteral("ms"), waited.elapsed())
        .print();
}

void MasterHost::sleep(CommandArgs& args)
{
    const qint64 ms = args.integer(0, "MS", 0, 0, kLongestWaitMs);
    if (!args.ok())
        return;
    runEventLoopFor(int(ms));
}

void MasterHost::help(CommandArgs&)
{
    TextTable table({QStringLiteral("command"), QStringLiteral("values"), QStringLiteral("what it does")});
    for (const Command& command : commands())
        table.addRow({QLatin1String(command.name), QLatin1String(command.values), QLatin1String(command.help)});
    for (const QString& line : table.lines())
        printOutputLine(line);
    printOutputLine(QStringLiteral("LAYER is a layer id; without it a command is for every layer (-1)."));
}

void MasterHost::quit(CommandArgs&)
{
    m_quitting = true;
    QCoreApplication::quit();
}
