// SPDX-License-Identifier: MIT
// multinet-player's processes when a command cannot be carried out: each failure gets one line that says
// why, and the player goes on with the next command. A slave is driven by a master of this test on
// loopback through the players' own wire convention; a master whose media cannot play reports that step
// as not met and ends with a failure rather than waiting on.
#include "ClipMaker.h"
#include "CommandData.h"
#include "EventLoopWait.h"
#include "HostClock.h"
#include "LoopbackPlan.h"
#include "PlayerTestSupport.h"
#include "SyncCommand.h"

#include <MultiNetControl.h>

#include <QTemporaryDir>
#include <QUrl>

namespace {

constexpr int kReplyMs = 15000;
constexpr int kLayer = 0;
constexpr qint64 kLeadUs = 150000;
const QString kPlayer = QStringLiteral(MULTINET_PLAYER);

} // namespace

class tst_PlayerFailures : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    NetControlNS::slaveControlCbk m_masterCallbacks;
    std::unique_ptr<MultiNetControl> m_master;
    std::unique_ptr<HostProcess> m_slave;
    qint64 m_nextId = 1;

    // Sends what `line` names ("prepare FILE", "start US", "seek US", "pause US", "bare-speed").
    void send(const QString& line)
    {
        const QStringList words = line.split(' ');
        if (words[0] == "bare-speed") {
            m_master->notifySlaveSpeed(2.0, kLayer, nullptr, 0);
            return;
        }
        SyncCommand command;
        command.kind = words[0] == "prepare" ? SyncCommand::Prepare
                       : words[0] == "start" ? SyncCommand::Start
                       : words[0] == "seek"  ? SyncCommand::Seek
                                             : SyncCommand::Pause;
        if (command.kind == SyncCommand::Prepare)
            command.programme = Programme({QUrl::fromLocalFile(m_dir.filePath(words[1])).toString()}, false);
        else
            command.positionUs = words[1].toLongLong();
        command.playOn = false;
        command.atHostUs = double(HostClock::monotonicUs() + kLeadUs);
        command.run = 1;
        command.id = m_nextId++;
        command.send(*m_master);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath("clip.avi"), 1.0, 30, ClipMaker::kDefaultSize, error), qPrintable(error));
        QVERIFY(writeOwnerOnly(m_dir.filePath("notes.avi"), "These are notes, not a film.\n"));

        const quint16 port = pickFreePort();
        const QString slaveIp = loopbackSlaveIp(0);
        m_slave = startPlayer(kPlayer, "slave", {"slave", "--ip", slaveIp, "--port", QString::number(port), "--master", kLoopbackMasterIp, "--headless"});
        QVERIFY(m_slave);
        m_masterCallbacks.getClockTimeCbk = [] { return HostClock::monotonicUs(); };
        m_master = std::make_unique<MultiNetControl>(&m_masterCallbacks, 0, kLoopbackMasterIp, port);
        m_master->setMasterFlag(true);
        m_master->setSlaves({slaveIp + '_' + QString::number(m_slave->pid())});
        QVERIFY(m_master->findSlavePlayer());
        QVERIFY2(runEventLoopUntil([this] { return m_master->getSlavesPlayer().size() == 1; }, kReplyMs), "the slave was not found");
    }

    void cleanupTestCase()
    {
        m_master.reset();
        if (m_slave)
            QVERIFY2(m_slave->finish(kReplyMs), qPrintable(m_slave->recentOutput()));
    }

    // The rows run in order on one slave: each failure leaves it ready for the next row's command.
    void slaveGoesOnAfterEachFailure_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("says");
        QTest::newRow("start before prepare") << "start 0" << "applied" << false << "before_any_media_is_prepared";
        QTest::newRow("missing file") << "prepare missing.avi" << "prepared" << false << "Resource_not_found";
        QTest::newRow("undecodable file") << "prepare notes.avi" << "prepared" << false << "Could_not_determine_type";
        QTest::newRow("the clip") << "prepare clip.avi" << "prepared" << true << "";
        QTest::newRow("seek past the end") << "seek 5000000" << "applied" << false << "past_the_end";
        QTest::newRow("speed without its instant") << "bare-speed" << "error" << false << "speed_whose_user_data_lacks_what_it_needs";
        QTest::newRow("pause on a frame") << "pause 500000" << "applied" << true << "";
    }
    void slaveGoesOnAfterEachFailure()
    {
        QFETCH(QString, command);
        QFETCH(QString, event);
        QFETCH(bool, ok);
        QFETCH(QString, says);
        QVERIFY2(m_slave->running(), qPrintable(m_slave->recentOutput()));
        const std::size_t from = m_slave->events().size();
        send(command);
        const EventLine* line = awaitLine(*m_slave, [&](const EventLine& e) { return e.event() == event; }, kReplyMs, from);
        QVERIFY2(line, qPrintable(QStringLiteral("no %1 line:\n%2").arg(event, m_slave->recentOutput())));
        QVERIFY2(line->text().contains(says), qPrintable(line->text()));
        if (event != "error")
            QVERIFY2(line->integer("ok", -1) == (ok ? 1 : 0), qPrintable(line->text()));
        // One line for the failure: no separate error line beside it.
        for (std::size_t i = from; i < m_slave->events().size(); ++i)
            QVERIFY2(&m_slave->events()[i] == line || m_slave->events()[i].event() != "error", qPrintable(m_slave->events()[i].text()));
        // Only a player that prerolled reports prepared to the master.
        if (command.startsWith("prepare"))
            QCOMPARE(runEventLoopUntil([this] { return m_master->isAllSlavePrepared(kLayer); }, ok ? kReplyMs : 0), ok);
    }

    void masterReportsAMediaItCannotPlay()
    {
        // No slaves to wait for: the session goes straight to its prepare.
        const auto master = startPlayer(kPlayer, "master", {"master", "--ip", kLoopbackMasterIp, "--port", QString::number(pickFreePort()),
                                                            "--headless", "--media", m_dir.filePath("notes.avi")});
        QVERIFY(master);
        const EventLine* finished = awaitLine(*master, [](const EventLine& e) { return e.event() == "finished"; }, kReplyMs);
        QVERIFY2(finished && finished->integer("ok", -1) == 0, qPrintable(master->recentOutput()));
        const EventLine* prepare = awaitLine(*master, [](const EventLine& e) { return isStep(e, "prepare"); }, 0);
        QVERIFY2(prepare && prepare->integer("met", -1) == 0 && prepare->value("detail").contains("Could_not_determine_type"),
                 qPrintable(master->recentOutput()));
        QVERIFY2(!master->finish(kReplyMs), "a master whose session failed exited 0");
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_PlayerFailures>(argc, argv);
}
#include "tst_playerfailures.moc"
