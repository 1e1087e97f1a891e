// SPDX-License-Identifier: MIT
// minimal-host: the smallest complete host application of TamoMultiNetControl.
//
//   minimal-host slave  OWN_IP MASTER_IP [PORT]   follows a master; prints its admission key, each clock
//                                                 offset it is told and the start command, then exits
//   minimal-host master OWN_IP SLAVE_KEY [PORT]   admits the slave SLAVE_KEY (its "ip_pid"), finds it,
//                                                 synchronises its clock and sends it a start command
//
// Both exit with status 0 when their part worked and 1 when it did not happen within 30 seconds.
// Try it on one machine: minimal-host slave 127.0.0.2 127.0.0.1, then minimal-host master 127.0.0.1 with
// the key that the slave printed.
#include <MultiNetControl.h>
#include <tamomultinetcontrol_version.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kGroupId = 7;
constexpr unsigned int kDefaultPort = 45454;
constexpr int kLayerId = 0;
constexpr int kTimeLimitMs = 30000;
constexpr int kPollMs = 50;

// The host clock: the library reads every time from it, from several threads at once.
qint64 hostClockUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The example's own lines, told apart from the library's lines on the same standard output.
void say(const QString& line)
{
    std::printf("[minimal-host] %s\n", qPrintable(line));
    std::fflush(stdout);
}

// The library's own lines go to a handler of the host's (here: standard output, marked as the library's).
// It is called on several of the library's threads at once; one printf per line keeps lines whole.
void printLibraryLine(const char* line)
{
    std::printf("    [library] %s", line);
    std::fflush(stdout);
}

// Calls `step` every kPollMs on the event loop until it returns true (exit 0) or the time is up (exit 1).
int runUntil(QCoreApplication& app, const std::function<bool()>& step, const char* whatFailed)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step())
            app.exit(0);
    });
    QTimer::singleShot(kTimeLimitMs, [&] {
        say(QStringLiteral("FAILED: %1 within %2 s").arg(QLatin1String(whatFailed)).arg(kTimeLimitMs / 1000));
        app.exit(1);
    });
    poll.start(kPollMs);
    return app.exec();
}

int runSlave(QCoreApplication& app, const QString& ownIp, const QString& masterIp, unsigned int port)
{
    // The callbacks run on the library's worker thread: they only record and print, and return at once.
    std::atomic<bool> started{false};
    std::atomic<bool> offsetTold{false};
    NetControlNS::slaveControlCbk callbacks;
    callbacks.getClockTimeCbk = hostClockUs;
    callbacks.getLayerIdsCbk = [] { return std::vector<int>{kLayerId}; };
    callbacks.clockOffsetCbk = [&](double seconds) {
        if (!offsetTold.exchange(true))
            say(QStringLiteral("clock offset received: %1 s (slave minus master)").arg(seconds, 0, 'f', 6));
    };
    callbacks.startCbk = [&](int layerId, double first, double second, char*, int) {
        say(QStringLiteral("start command received for layer %1 (%2, %3)").arg(layerId).arg(first).arg(second));
        started = true;
    };

    MultiNetControl control(&callbacks, kGroupId, ownIp.toStdString(), port);
    control.setSlaveFlag(true);
    control.setMasterIp(masterIp.toStdString());
    say(QStringLiteral("slave ready; admit it on the master as %1_%2").arg(ownIp).arg(QCoreApplication::applicationPid()));

    const int status = runUntil(app, [&] { return started && offsetTold; }, "a start command and a clock offset");
    if (status == 0)
        say(QStringLiteral("OK: the slave received a start command and a clock offset"));
    return status;
}

int runMaster(QCoreApplication& app, const QString& ownIp, const QString& slaveKey, unsigned int port)
{
    NetControlNS::slaveControlCbk callbacks;
    callbacks.getClockTimeCbk = hostClockUs;

    MultiNetControl control(&callbacks, kGroupId, ownIp.toStdString(), port);
    control.setMasterFlag(true);
    control.setSlaves({slaveKey});

    // find (again every second, until the slave has answered), synchronise clocks, then start.
    enum class Stage { Find, ClockSync, Done } stage = Stage::Find;
    qint64 lastFindUs = 0;
    const auto step = [&] {
        const qint64 now = hostClockUs();
        switch (stage) {
        case Stage::Find:
            if (!control.getSlavesPlayer().empty()) {
                say(QStringLiteral("the slave is in the roster; starting clock synchronisation"));
                control.notifySlaveStartClockSync();
                stage = Stage::ClockSync;
            } else if (now - lastFindUs >= 1000000) {
                control.findSlavePlayer();
                lastFindUs = now;
            }
            return false;
        case Stage::ClockSync:
            if (!control.isAllSlaveClockSucced())
                return false;
            say(QStringLiteral("the slave's clock is synchronised; sending start"));
            if (!control.notifySlaveStart(0.0, 1.0, kLayerId, nullptr, 0))
                return false;
            stage = Stage::Done;
            return true;
        case Stage::Done:
            break;
        }
        return true;
    };
    const int status = runUntil(app, step, "finding the slave, synchronising its clock and starting it");
    if (status == 0)
        say(QStringLiteral("OK: the master sent start to a synchronised slave"));
    control.notifySlaveStopClockSync();
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString role = args.value(1);
    bool portOk = args.size() < 5;
    const unsigned int port = portOk ? kDefaultPort : args.at(4).toUInt(&portOk);
    if (args.size() < 4 || args.size() > 5 || !portOk || port == 0 || port > 65535
        || (role != QLatin1String("master") && role != QLatin1String("slave"))) {
        std::fprintf(stderr,
                     "minimal-host %s (TamoMultiNetControl)\n"
                     "usage: minimal-host slave  OWN_IP MASTER_IP [PORT]\n"
                     "       minimal-host master OWN_IP SLAVE_IP_PID [PORT]\n",
                     TAMO_MULTINETCONTROL_VERSION_STRING);
        return 2;
    }
    NetControlNS::installLogHandler(printLibraryLine);
    return role == QLatin1String("slave") ? runSlave(app, args.at(2), args.at(3), port)
                                          : runMaster(app, args.at(2), args.at(3), port);
}
