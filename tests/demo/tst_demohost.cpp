// SPDX-License-Identifier: MIT
// multinet-demo's own reading of what it is told: each subcommand's options, where a wrong value must
// stop the program with a usage error rather than run it on a wrong address, port or key; the values of
// a typed master command; the simulated player's bounds; and the closing table of `run`, where a
// latency below zero cannot happen (a callback comes after its send), so it must never pass for a fast one.
#include "CommandArgs.h"
#include "DemoOptions.h"
#include "RunSummary.h"
#include "SimulatedPlayer.h"

#include <QTest>

namespace {

QStringList commandLine(const QString& subcommand, const QString& options)
{
    return QStringList{QStringLiteral("multinet-demo"), subcommand} + options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Parses `options` for `subcommand`; the exit code, or -1 when the options were taken.
int parsed(const QString& subcommand, const QString& options)
{
    int exitCode = -1;
    const QStringList arguments = commandLine(subcommand, options);
    const bool taken = subcommand == QLatin1String("slave")    ? bool(parseSlaveOptions(arguments, exitCode))
                       : subcommand == QLatin1String("master") ? bool(parseMasterOptions(arguments, exitCode))
                                                               : bool(parseRunOptions(arguments, exitCode));
    return taken ? -1 : exitCode;
}

const QString kSlave = QStringLiteral("--ip 127.0.0.2 --port 45000 --group 7 --master 127.0.0.1");
const QString kMaster = QStringLiteral("--ip 127.0.0.1 --port 45000 --group 7");

EventLine received(const char* tag, qint64 monoUs)
{
    return EventLine(QStringLiteral("received")).add("command", "step").add("user-data", tag).add("mono-us", monoUs);
}

} // namespace

class tst_DemoHost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLines_data()
    {
        QTest::addColumn<QString>("subcommand");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("exitCode");  // -1: taken; the sessions of tst_demokeys and demo_run take the usual ones
        QTest::newRow("slave: address out of range") << "slave" << "--ip 127.0.0.300 --port 1 --group 7 --master 127.0.0.1" << 2;
        QTest::newRow("slave: address in short form") << "slave" << "--ip 127.1 --port 1 --group 7 --master 127.0.0.1" << 2;
        QTest::newRow("slave: IPv6 master") << "slave" << "--ip 127.0.0.2 --port 1 --group 7 --master ::1" << 2;
        QTest::newRow("slave: port 0") << "slave" << "--ip 127.0.0.2 --port 0 --group 7 --master 127.0.0.1" << 2;
        QTest::newRow("slave: port past 16 bits") << "slave" << "--ip 127.0.0.2 --port 65536 --group 7 --master 127.0.0.1" << 2;
        QTest::newRow("slave: no group") << "slave" << "--ip 127.0.0.2 --port 1 --master 127.0.0.1" << 2;
        QTest::newRow("slave: no layer in the list") << "slave" << kSlave + " --layers ," << 2;
        QTest::newRow("slave: layer past 32767") << "slave" << kSlave + " --layers 0,40000" << 2;
        QTest::newRow("slave: clock off by more than a day") << "slave" << kSlave + " --clock-offset-us 86400000001" << 2;
        QTest::newRow("slave: a stray argument") << "slave" << kSlave + " extra" << 2;
        QTest::newRow("master: no slaves option") << "master" << kMaster << 2;
        QTest::newRow("master: an empty list") << "master" << kMaster + " --slaves ," << 2;
        QTest::newRow("master: a key without its pid") << "master" << kMaster + " --slaves 127.0.0.2" << 2;
        QTest::newRow("master: pid 0") << "master" << kMaster + " --slaves 127.0.0.2_0" << 2;
        QTest::newRow("master: parent 0") << "master" << kMaster + " --slaves 127.0.0.2_1 --parent 0" << 2;
        QTest::newRow("run: fifty slaves") << "run" << "--slaves 50 --group 65535" << -1;
        QTest::newRow("run: fifty-one slaves") << "run" << "--slaves 51" << 2;
        QTest::newRow("run: a word for a number") << "run" << "--port many" << 2;
        QTest::newRow("run: a key file that is not there") << "run" << "--key-file /nonexistent/keys" << 2;
    }
    void commandLines()
    {
        QFETCH(QString, subcommand);
        QFETCH(QString, options);
        QFETCH(int, exitCode);
        QCOMPARE(parsed(subcommand, options), exitCode);
    }

    void optionsTaken()
    {
        int exitCode = -1;
        const auto slave = parseSlaveOptions(commandLine(QStringLiteral("slave"), kSlave + " --layers 3,0 --clock-offset-us -2500"), exitCode);
        QVERIFY(slave && slave->layers == (std::vector<int>{3, 0}) && slave->clockOffsetUs == -2500 && !slave->keys);
        const auto master = parseMasterOptions(commandLine(QStringLiteral("master"), kMaster + " --slaves 127.0.0.2_5164,127.0.0.2_5164,127.0.0.3_7"), exitCode);
        QCOMPARE(master ? master->slaves : QSet<QString>(), (QSet<QString>{"127.0.0.2_5164", "127.0.0.3_7"}));
    }

    void typedCommandValues()
    {
        CommandArgs args(QStringLiteral("seek"), {QStringLiteral("2"), QStringLiteral("ten"), QStringLiteral("5")});
        QVERIFY(args.layer(0) == 2 && args.integer(1, "MS", 0, 0, 1000) == 0);
        // After the first bad value, later ones are not read: one message names the first.
        QCOMPARE(args.integer(2, "N", -1, 0, 9), qint64(-1));
        QCOMPARE(args.error(), QStringLiteral("seek: MS must be a whole number from 0 to 1000, got 'ten'"));
        CommandArgs more(QStringLiteral("speed"), {QStringLiteral("inf"), QStringLiteral("2")});
        QVERIFY(more.real(0, "SPEED", 1.0) == 1.0 && !more.ok());
        CommandArgs flags(QStringLiteral("seek"), {QStringLiteral("1"), QStringLiteral("2")});
        QVERIFY(flags.flag(0, "FLAG", false) && !flags.flag(1, "FLAG", false) && !flags.ok());
        CommandArgs none(QStringLiteral("pause"), {});
        QVERIFY(none.layer(0) == -1 && none.ok());  // every layer
    }

    // Values off the wire may be anything: a step back stops at the start, a huge start position saturates
    // rather than wraps.
    void simulatedPlayerStaysInRange()
    {
        const HostClock clock(0);
        SimulatedPlayer player(clock, {0, 1});
        player.step(0, -5);
        QCOMPARE(player.view()[0].positionUs, qint64(0));
        player.start(1, 1e300, 1.0);
        QCOMPARE(player.step(-1, 2), (std::vector<int>{0, 1}));  // a playing layer pauses to step
        QVERIFY(player.view()[1].state == SimulatedPlayer::State::Paused && player.view()[1].positionUs > 0);
    }

    void negativeLatencyIsFlagged_data()
    {
        QTest::addColumn<qint64>("secondReceivedAtUs");
        QTest::addColumn<qint64>("worstUs");
        QTest::addColumn<bool>("possible");
        QTest::newRow("after its send") << qint64(2400) << qint64(400) << true;
        QTest::newRow("at its send") << qint64(2000) << qint64(300) << true;
        QTest::newRow("before its send") << qint64(1950) << qint64(-50) << false;
    }

    void negativeLatencyIsFlagged()
    {
        QFETCH(qint64, secondReceivedAtUs);
        QFETCH(qint64, worstUs);
        QFETCH(bool, possible);
        const std::vector<SentCommand> sent{{QStringLiteral("step"), QStringLiteral("cmd1"), 1000},
                                            {QStringLiteral("step"), QStringLiteral("cmd2"), 2000}};
        const std::vector<EventLine> events{received("cmd1", 1300), received("cmd2", secondReceivedAtUs)};
        const std::vector<SlaveRecord> slaves{{QStringLiteral("127.0.0.2"), 42, QStringLiteral("0"), 0, &events}};
        const RunSummary summary(sent, slaves, {});

        std::vector<qint64> all = RunSummary::latenciesOf(sent[0], slaves);
        const std::vector<qint64> second = RunSummary::latenciesOf(sent[1], slaves);
        all.insert(all.end(), second.begin(), second.end());
        QCOMPARE(RunSummary::worst(all), worstUs);
        QVERIFY(summary.everyLatencyPossible() == possible && summary.tableLines().join('\n').contains("IMPOSSIBLE") == !possible);
    }
};

QTEST_GUILESS_MAIN(tst_DemoHost)
#include "tst_demohost.moc"
