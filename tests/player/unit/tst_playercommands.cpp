// SPDX-License-Identifier: MIT
// The players' commands on the wire, through a real master and slave on loopback: the commands no
// session sends (a paused seek, a looping playlist, a trim) reach a slave's callbacks as sent; user data
// that lacks what a command needs, or that is not words at all, leaves the command out or its value empty
// rather than wrong; a prepare is bounded, and a slave takes each command of the run it follows once, in
// order, within a window of numbers.
#include "CommandData.h"
#include "EventLoopWait.h"
#include "HostClock.h"
#include "LoopbackPlan.h"
#include "SyncCommand.h"

#include <QtTest>

#include <deque>
#include <memory>
#include <mutex>
#include <tuple>

Q_DECLARE_METATYPE(SyncCommand)
Q_DECLARE_METATYPE(SyncCommand::Kind)

namespace {

constexpr int kLayer = 0;
constexpr int kGroup = 5;
constexpr double kAtUs = 987654321012.0;  // a whole microsecond: every command carries it exactly

// What the slave's callbacks made of one datagram.
struct Arrival
{
    QString name;
    bool readable = false;
    SyncCommand command;  // when readable
};

SyncCommand command(SyncCommand::Kind kind, qint64 positionUs, qint64 id, bool playOn = true)
{
    SyncCommand made;
    made.kind = kind;
    made.play = id % 3;  // some in a later round of the programme
    made.positionUs = positionUs;
    made.playOn = playOn;
    made.atHostUs = kAtUs;
    made.run = 4242;
    made.id = id;
    return made;
}

} // namespace

class tst_PlayerCommands : public QObject
{
    Q_OBJECT

private:
    std::mutex m_mutex;
    // Guarded by m_mutex: written by the slave's library thread, read by the test's.
    std::deque<Arrival> m_received;
    NetControlNS::slaveControlCbk m_masterCallbacks;
    NetControlNS::slaveControlCbk m_slaveCallbacks;
    // Declared last, so that they end first: the slave's thread writes m_received until then.
    std::unique_ptr<MultiNetControl> m_master;
    std::unique_ptr<MultiNetControl> m_slave;

    // The next command the slave received, or nothing within the time-out.
    std::optional<Arrival> nextReceived()
    {
        auto arrived = [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return !m_received.empty();
        };
        if (!runEventLoopUntil(arrived, 5000))
            return std::nullopt;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto first = std::move(m_received.front());
        m_received.pop_front();
        return first;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const quint16 port = pickFreePort();
        const QString slaveIp = loopbackSlaveIp(0);
        m_masterCallbacks.getClockTimeCbk = [] { return HostClock::monotonicUs(); };
        m_slaveCallbacks.getClockTimeCbk = [] { return HostClock::monotonicUs(); };
        m_slaveCallbacks.getLayerIdsCbk = [] { return std::vector<int>{kLayer}; };
        SyncCommand::receiveInto(m_slaveCallbacks, [this](const char* name, const CommandData&, std::optional<SyncCommand> received) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.push_back(Arrival{QLatin1String(name), bool(received), received.value_or(SyncCommand())});
        });
        m_master = std::make_unique<MultiNetControl>(&m_masterCallbacks, kGroup, kLoopbackMasterIp, port);
        m_master->setMasterFlag(true);
        m_slave = std::make_unique<MultiNetControl>(&m_slaveCallbacks, kGroup, slaveIp.toStdString(), port);
        m_slave->setSlaveFlag(true);
        m_slave->setMasterIp(kLoopbackMasterIp);
        m_master->setSlaves({slaveIp + QLatin1Char('_') + QString::number(QCoreApplication::applicationPid())});
        QVERIFY(m_master->findSlavePlayer());
        QVERIFY(runEventLoopUntil([this] { return m_master->getSlavesPlayer().size() == 1; }));
    }

    void everyCommandCrossesTheWire_data()
    {
        QTest::addColumn<SyncCommand>("sent");
        // What no session sends; the other commands cross in every one (player_session), whose slaves a
        // misread one puts out of step.
        SyncCommand prepare = command(SyncCommand::Prepare, 0, 10);
        prepare.programme = Programme({"file:///a.avi", "http://host/b.mp4?x=1&y=2", "file:///c.mkv"}, true);
        SyncCommand trim = command(SyncCommand::Trim, 0, 11);
        std::tie(trim.target, trim.trimUs) = std::tuple(QStringLiteral("127.0.0.3_4711"), -150000);
        QTest::newRow("seek, staying paused") << command(SyncCommand::Seek, 3000000, 5, false);
        QTest::newRow("prepare, a playlist that loops") << prepare;
        QTest::newRow("trim, earlier") << trim;
    }
    void everyCommandCrossesTheWire()
    {
        QFETCH(SyncCommand, sent);
        QVERIFY(sent.send(*m_master));
        const auto received = nextReceived();
        QVERIFY2(received, "nothing reached the slave");
        QCOMPARE(received->name, QLatin1String(SyncCommand::name(sent.kind)));
        QVERIFY2(received->readable, "the slave could not read the command");
        const SyncCommand& got = received->command;
        QVERIFY(got.kind == sent.kind && got.run == sent.run && got.id == sent.id && got.programme == sent.programme);
        QVERIFY(got.target == sent.target && got.trimUs == sent.trimUs);
        QVERIFY(sent.kind != SyncCommand::Seek ||
                (got.play == sent.play && got.positionUs == sent.positionUs && got.atHostUs == sent.atHostUs && got.playOn == sent.playOn));
    }

    // Each row: the command, its user data, and what the slave reads: "-" for nothing, else "POSITION ID".
    void oddUserData_data()
    {
        QTest::addColumn<SyncCommand::Kind>("kind");
        QTest::addColumn<QByteArray>("userData");
        QTest::addColumn<QString>("read");
        QTest::newRow("speed without user data") << SyncCommand::Speed << QByteArray() << "-";
        QTest::newRow("step with a word for its instant") << SyncCommand::Step << QByteArray("at=soon pos=1") << "-";
        QTest::newRow("speed with an instant beyond 64 bits") << SyncCommand::Speed << QByteArray("at=99999999999999999999 pos=1") << "-";
        QTest::newRow("step with blanks around its words") << SyncCommand::Step << QByteArray("  pos=40   at=7  cmd=2 ") << "40 2";
        QTest::newRow("step of a later format") << SyncCommand::Step << QByteArray("v=2 pos=40 at=7") << "-";
        // A trim travels on a step; one without its key (or its value) is left out, as a player that knows
        // no trims leaves out every trim (a step without its instant and position).
        QTest::newRow("trim without its key") << SyncCommand::Trim << QByteArray("kind=trim trim-us=5 cmd=4") << "-";
        QTest::newRow("step of a kind it does not know") << SyncCommand::Step << QByteArray("v=1 run=1 cmd=4 kind=truncate key=1.2.3.4_5 trim-us=5") << "-";
        // Without a position the slave pauses on the frame it shows at the instant.
        QTest::newRow("pause without a position") << SyncCommand::Pause << QByteArray("cmd=3") << "-1 3";
        QTest::newRow("a demo host's bare tag") << SyncCommand::Stop << QByteArray("cmd7") << "0 0";
        // A prepare builds no programme beyond its bounds: an item count that nothing backs is not
        // counted up to (2^63 - 1 would stall the slave), nor are more items than a programme holds.
        QTest::newRow("prepare of 2^63-1 items") << SyncCommand::Prepare << QByteArray("v=1 run=1 cmd=6 items=9223372036854775807 uri0=file:///a") << "-";
        QTest::newRow("prepare of 1001 items") << SyncCommand::Prepare << QByteArray("v=1 run=1 cmd=6 items=1001 uri0=file:///a") << "-";
        QTest::newRow("prepare of fewer URIs than items") << SyncCommand::Prepare << QByteArray("v=1 run=1 cmd=6 items=3 uri0=file:///a uri1=file:///b") << "-";
        QTest::newRow("prepare of -1 items") << SyncCommand::Prepare << QByteArray("v=1 items=-1 uri0=file:///a") << "-";
        QTest::newRow("binary") << SyncCommand::Stop << QByteArray("\x01\xff=\x00cmd=\xfe", 9) << "0 0";
    }
    void oddUserData()
    {
        QFETCH(SyncCommand::Kind, kind);
        QFETCH(QByteArray, userData);
        QFETCH(QString, read);
        char* user = userData.isEmpty() ? nullptr : userData.data();
        const int len = int(userData.size());
        const bool sent = kind == SyncCommand::Prepare ? m_master->notifySlavePrepareAsync(kLayer, user, len)
                          : kind == SyncCommand::Speed  ? m_master->notifySlaveSpeed(2.0, kLayer, user, len)
                          : kind == SyncCommand::Step || kind == SyncCommand::Trim ? m_master->notifySlaveStep(kLayer, user, len)
                          : kind == SyncCommand::Pause    ? m_master->notifySlavePause(kAtUs, kLayer, user, len)
                                                          : m_master->notifySlaveStop(kAtUs, kLayer, user, len);
        QVERIFY(sent);
        const auto received = nextReceived();
        QVERIFY2(received, "nothing reached the slave");
        QCOMPARE(received->name, QLatin1String(SyncCommand::name(kind)));
        QCOMPARE(received->readable, read != "-");
        if (received->readable)
            QCOMPARE(QStringLiteral("%1 %2").arg(received->command.positionUs).arg(received->command.id), read);
        QVERIFY(!received->readable || received->command.kind == kind);
    }

    // Each row hands a slave commands "run:number" in turn, each marked + (taken) or - (left out), at a
    // wall clock of kNowMs. Runs are masters' start times in ms: a later one is a master started again.
    void commandsTakenOnceInOrder_data()
    {
        QTest::addColumn<QString>("commands");
        QTest::newRow("repeats and copies that come late") << QStringLiteral("100:1+ 100:3+ 100:3- 100:2- 100:4+");
        QTest::newRow("a master started again, whose process id is lower")
            << QStringLiteral("1700000000000:7+ 1700000005000:1+ 1700000005000:1- 1700000005000:2+");
        QTest::newRow("runs in turn replay nothing")
            << QStringLiteral("1700000000000:1+ 1700000005000:1+ 1700000000000:2- 1700000005000:1- 1700000000000:1- 1700000005000:2+");
        QTest::newRow("a number far ahead leaves the next ones new")
            << QStringLiteral("1700000000000:1+ 1700000000000:9223372036854775807- 1700000000000:2+ 1700000000000:1002+ "
                              "1700000000000:2003- 1700000000000:1003+");
        QTest::newRow("a number below every other one") << QStringLiteral("100:5+ 100:-9223372036854775807- 100:6+");
        QTest::newRow("a run far ahead of the wall clock")
            << QStringLiteral("1700000000000:1+ 9223372036854775807:1- 1700090000000:1- 1700000000000:2+ 1700080000000:1+");
    }
    void commandsTakenOnceInOrder()
    {
        constexpr qint64 kNowMs = 1700000010000;
        QFETCH(QString, commands);
        AppliedCommands applied;
        for (const QString& word : commands.split(QLatin1Char(' '))) {
            const QStringList parts = word.chopped(1).split(QLatin1Char(':'));
            SyncCommand sync;
            sync.run = parts.at(0).toLongLong();
            sync.id = parts.at(1).toLongLong();
            QString why;
            const bool taken = applied.takeIfNew(sync, &why, kNowMs);
            QVERIFY2(taken == word.endsWith(QLatin1Char('+')), qPrintable(word + QLatin1Char(' ') + why));
            QVERIFY2(taken == why.isEmpty(), qPrintable(word));
        }
    }
};

QTEST_GUILESS_MAIN(tst_PlayerCommands)
#include "tst_playercommands.moc"
