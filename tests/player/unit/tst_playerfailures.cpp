// SPDX-License-Identifier: MIT
// multinet-player's processes when a command cannot be carried out: each failure gets one line that says
// why, and the player goes on with the next command. A slave is driven by a master of this test on
// loopback through the players' own wire convention; a master whose media cannot play reports that step
// as not met and ends with a failure rather than waiting on.
#include "ClipMaker.h"
#include "CommandData.h"
#include "EventLoopWait.h"
#include "HostClock.h"
#include "HostProcess.h"
#include "LoopbackPlan.h"
#include "SyncCommand.h"

#include <MultiNetControl.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <gst/gst.h>

#include <memory>

namespace {

constexpr int kStartMs = 15000;
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
    quint16 m_port = 0;
    NetControlNS::slaveControlCbk m_masterCallbacks;
    std::unique_ptr<MultiNetControl> m_master;
    std::unique_ptr<HostProcess> m_slave;
    qint64 m_nextId = 1;

    QString uriOf(const QString& name) const { return QUrl::fromLocalFile(m_dir.filePath(name)).toString(); }

    // Sends what `line` names ("prepare FILE", "start US", "seek US", "pause US", "bare-speed").
    void send(const QString& line)
    {
        const QStringList words = line.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("bare-speed")) {
            m_master->notifySlaveSpeed(2.0, kLayer, nullptr, 0);
            return;
        }
        SyncCommand command;
        command.kind = words[0] == QLatin1String("prepare") ? SyncCommand::Prepare
                       : words[0] == QLatin1String("start") ? SyncCommand::Start
                       : words[0] == QLatin1String("seek")  ? SyncCommand::Seek
                                                            : SyncCommand::Pause;
        if (command.kind == SyncCommand::Prepare)
            command.programme = Programme({uriOf(words[1])}, false);
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
        QVERIFY2(ClipMaker::make(m_dir.filePath(QStringLiteral("clip.avi")), 1.0, 30, ClipMaker::kDefaultSize, error),
                 qPrintable(error));
        QFile text(m_dir.filePath(QStringLiteral("notes.avi")));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("These are notes, not a film.\n") > 0);
        text.close();

        m_port = pickFreePort();
        const QString masterIp = QLatin1String(kLoopbackMasterIp);
        const QString slaveIp = loopbackSlaveIp(0);
        m_slave = std::make_unique<HostProcess>(
            QStringLiteral("slave"),
            QStringList{QStringLiteral("slave"), QStringLiteral("--ip"), slaveIp, QStringLiteral("--port"), QString::number(m_port),
                        QStringLiteral("--master"), masterIp, QStringLiteral("--headless")},
            false, kPlayer);
        QVERIFY2(m_slave->start(kStartMs), qPrintable(m_slave->startFailure()));

        m_masterCallbacks.getClockTimeCbk = [] { return HostClock::monotonicUs(); };
        m_master = std::make_unique<MultiNetControl>(&m_masterCallbacks, 0, masterIp.toStdString(), m_port);
        m_master->setMasterFlag(true);
        m_master->setSlaves({slaveIp + QLatin1Char('_') + QString::number(m_slave->pid())});
        QVERIFY(m_master->findSlavePlayer());
        QVERIFY2(runEventLoopUntil([this] { return m_master->getSlavesPlayer().size() == 1; }, kReplyMs),
                 "the slave was not found");
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
        const int at = m_slave->waitForEvent([&](const EventLine& e) { return e.event() == event; }, kReplyMs, from);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("no %1 line:\n%2").arg(event, m_slave->recentOutput())));
        const EventLine& line = m_slave->events()[std::size_t(at)];
        QVERIFY2(line.text().contains(says), qPrintable(line.text()));
        if (event != QLatin1String("error"))
            QVERIFY2(line.integer(QStringLiteral("ok"), -1) == (ok ? 1 : 0), qPrintable(line.text()));
        // One line for the failure: no separate error line beside it.
        for (std::size_t i = from; i < m_slave->events().size(); ++i) {
            if (int(i) != at)
                QVERIFY2(m_slave->events()[i].event() != QLatin1String("error"), qPrintable(m_slave->events()[i].text()));
        }
        // Only a player that prerolled reports prepared to the master.
        if (command.startsWith(QLatin1String("prepare")) && ok)
            QVERIFY(runEventLoopUntil([this] { return m_master->isAllSlavePrepared(kLayer); }, kReplyMs));
        if (command.startsWith(QLatin1String("prepare")) && !ok)
            QVERIFY(!m_master->isAllSlavePrepared(kLayer));
    }

    void masterReportsAMediaItCannotPlay_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing file") << "missing.avi" << "Resource_not_found";
        QTest::newRow("undecodable file") << "notes.avi" << "Could_not_determine_type";
    }
    void masterReportsAMediaItCannotPlay()
    {
        QFETCH(QString, file);
        QFETCH(QString, says);
        // No slaves to wait for: the session goes straight to its prepare.
        HostProcess master(QStringLiteral("master"),
                           QStringList{QStringLiteral("master"), QStringLiteral("--ip"), QLatin1String(kLoopbackMasterIp),
                                       QStringLiteral("--port"), QString::number(pickFreePort()), QStringLiteral("--headless"),
                                       QStringLiteral("--media"), m_dir.filePath(file)},
                           false, kPlayer);
        QVERIFY2(master.start(kStartMs), qPrintable(master.startFailure()));
        const int finished = master.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("finished"); }, kReplyMs);
        QVERIFY2(finished >= 0, qPrintable(master.recentOutput()));
        QCOMPARE(master.events()[std::size_t(finished)].integer(QStringLiteral("ok"), -1), qint64(0));
        const auto prepare = std::find_if(master.events().begin(), master.events().end(), [](const EventLine& e) {
            return e.event() == QLatin1String("session") && e.value(QStringLiteral("step")) == QLatin1String("prepare");
        });
        QVERIFY2(prepare != master.events().end(), qPrintable(master.recentOutput()));
        QCOMPARE(prepare->integer(QStringLiteral("met"), -1), qint64(0));
        QVERIFY2(prepare->value(QStringLiteral("detail")).contains(says), qPrintable(prepare->text()));
        QVERIFY2(!master.finish(kReplyMs), "a master whose session failed exited 0");
    }
};

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);  // the clip is made here
    QCoreApplication app(argc, argv);
    tst_PlayerFailures test;
    const int status = QTest::qExec(&test, argc, argv);
    // GStreamer's own threads (its task pool) end here, not while the leak check suspends every thread.
    gst_deinit();
    return status;
}
#include "tst_playerfailures.moc"
