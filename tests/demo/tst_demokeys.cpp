// SPDX-License-Identifier: MIT
// multinet-demo in a keyed group, its processes on loopback: a session with a key file; a slave with
// another key, or none, hears nothing and its drop counts and its line say why; and the key of both ends
// changes by SIGHUP, across a file of two keys, while the commands keep arriving.
#include "EventLoopWait.h"
#include "HostProcess.h"
#include "KeyFile.h"
#include "LoopbackPlan.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

namespace {

constexpr int kStartMs = 15000;
constexpr int kReplyMs = 5000;
constexpr int kRunMs = 120000;
const QString kDemo = QStringLiteral(MULTINET_DEMO);
const QString kMasterIp = QStringLiteral("127.0.0.81");
const QString kGroup = QStringLiteral("7");

// A key line: `id` and a key of 32 bytes `c`.
QByteArray keyLine(int id, char c)
{
    return QByteArray::number(id) + ' ' + QByteArray(KeyFile::kKeyBytes, c).toHex() + '\n';
}

bool isReceived(const EventLine& e, const QString& command)
{
    return e.event() == QLatin1String("received") && e.value(QStringLiteral("command")) == command;
}

// Tells `process` to read its key file again.
void hangUp(const HostProcess& process)
{
#ifdef Q_OS_UNIX
    ::kill(pid_t(process.pid()), SIGHUP);
#else
    Q_UNUSED(process);
#endif
}

// Waits until `process` has printed a line that holds `text`.
bool printed(const HostProcess& process, const QString& text)
{
    return runEventLoopUntil([&] { return process.recentOutput().contains(text); }, kReplyMs);
}

} // namespace

class tst_DemoKeys : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    quint16 m_port = 0;

    // A key file of `lines`, owner's only, under `name` in the test's directory; its path.
    QString writeKeys(const QString& name, const QByteArray& lines)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || file.write(lines) != lines.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    std::unique_ptr<HostProcess> startSlave(const QString& ip, const QString& keyFile)
    {
        QStringList arguments{QStringLiteral("slave"), QStringLiteral("--ip"), ip, QStringLiteral("--port"),
                              QString::number(m_port), QStringLiteral("--group"), kGroup, QStringLiteral("--master"), kMasterIp,
                              QStringLiteral("--parent"), QString::number(QCoreApplication::applicationPid())};
        if (!keyFile.isEmpty())
            arguments << QStringLiteral("--key-file") << keyFile;
        auto slave = std::make_unique<HostProcess>(QStringLiteral("slave ") + ip, arguments, false, kDemo);
        return slave->start(kStartMs) ? std::move(slave) : nullptr;
    }

    std::unique_ptr<HostProcess> startMaster(const QList<const HostProcess*>& slaves, const QString& keyFile)
    {
        QStringList keys;
        for (const HostProcess* slave : slaves)
            keys << slave->readyLine().value(QStringLiteral("key"));
        auto master = std::make_unique<HostProcess>(
            QStringLiteral("master"),
            QStringList{QStringLiteral("master"), QStringLiteral("--ip"), kMasterIp, QStringLiteral("--port"),
                        QString::number(m_port), QStringLiteral("--group"), kGroup, QStringLiteral("--slaves"),
                        keys.join(QLatin1Char(',')), QStringLiteral("--key-file"), keyFile, QStringLiteral("--parent"),
                        QString::number(QCoreApplication::applicationPid())},
            false, kDemo);
        return master->start(kStartMs) ? std::move(master) : nullptr;
    }

    // Has the master wait for `what` ("roster 1", "prepared", ...); true when the wait was met.
    static bool masterWaits(HostProcess& master, const QString& what)
    {
        const std::size_t from = master.events().size();
        master.send(QStringLiteral("wait ") + what);
        const int at = master.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("waited"); },
                                           kReplyMs + 10000, from);
        return at >= 0 && master.events()[std::size_t(at)].integer(QStringLiteral("met")) == 1;
    }

    // The process's drop counts, from its status.
    static std::optional<EventLine> dropsOf(HostProcess& process)
    {
        const std::size_t from = process.events().size();
        process.send(QStringLiteral("status"));
        const int at = process.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("drops"); },
                                            kReplyMs, from);
        return at < 0 ? std::nullopt : std::optional<EventLine>(process.events()[std::size_t(at)]);
    }

    // SIGHUP to `process` once its key file `name` holds `lines`; true once it has taken keys `ids`.
    bool changeKeys(HostProcess& process, const QString& name, const QByteArray& lines, const QString& ids)
    {
        writeKeys(name, lines);
        const std::size_t from = process.events().size();
        hangUp(process);
        return process.waitForEvent(
                   [&ids](const EventLine& e) {
                       return e.event() == QLatin1String("keys-reloaded") && e.value(QStringLiteral("ids")) == ids;
                   },
                   kReplyMs, from)
               >= 0;
    }

    // Has the master send `command` and waits until `slave` has received it.
    static bool arrives(HostProcess& master, HostProcess& slave, const QString& command)
    {
        const std::size_t from = slave.events().size();
        master.send(command);
        const QString name = command.section(QLatin1Char(' '), 0, 0);
        return slave.waitForEvent([&name](const EventLine& e) { return isReceived(e, name); }, kReplyMs, from) >= 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_port = pickFreePort();
        QVERIFY(m_port != 0);
    }

    void keyedSessionPlays()
    {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(kDemo, {QStringLiteral("run"), QStringLiteral("--slaves"), QStringLiteral("2"), QStringLiteral("--key-file"),
                          writeKeys(QStringLiteral("session"), keyLine(5, 's'))});
        QVERIFY(run.waitForFinished(kRunMs));
        const QString output = QString::fromLocal8Bit(run.readAll());
        QVERIFY2(run.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String(", keys 5")), qPrintable(output));
    }

    void slaveWithAnotherKeyHearsNothing_data()
    {
        QTest::addColumn<QByteArray>("keys");  // the odd slave's; none: no key file
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("line");
        QTest::newRow("another key under the group's id")
            << keyLine(1, 'z') << "bad-signature" << "dropped a datagram whose signature does not verify from " + kMasterIp;
        QTest::newRow("a key of another id")
            << keyLine(9, 'a') << "unknown-key" << "dropped a datagram signed with a key it does not hold from " + kMasterIp;
        QTest::newRow("no key") << QByteArray() << "signed-without-key"
                                << "dropped a signed datagram from " + kMasterIp;
    }
    void slaveWithAnotherKeyHearsNothing()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QString, count);
        QFETCH(QString, line);
        const QString groupKeys = writeKeys(QStringLiteral("group"), keyLine(1, 'a'));
        const auto slave = startSlave(QStringLiteral("127.0.0.82"), groupKeys);
        const auto odd = startSlave(QStringLiteral("127.0.0.83"), keys.isEmpty() ? QString() : writeKeys(QStringLiteral("odd"), keys));
        QVERIFY(slave && odd);
        const auto master = startMaster({slave.get(), odd.get()}, groupKeys);
        QVERIFY(master);

        master->send(QStringLiteral("find"));
        QVERIFY(masterWaits(*master, QStringLiteral("roster 1")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("start")));
        const std::optional<EventLine> drops = dropsOf(*odd);
        QVERIFY(drops);
        QVERIFY2(drops->integer(count) >= 1, qPrintable(drops->text()));  // the search at least
        for (const char* other : {"unsigned", "unknown-key", "bad-signature", "replayed", "signed-without-key"})
            QVERIFY2(other == count || drops->integer(QLatin1String(other)) == 0, qPrintable(drops->text()));
        QVERIFY2(printed(*odd, line), qPrintable(odd->recentOutput()));
        for (const EventLine& e : odd->events())
            QVERIFY2(e.event() != QLatin1String("received"), qPrintable(e.text()));
        // The roster holds the slave of the group only: the odd one never heard the search.
        master->send(QStringLiteral("status"));
        const int status = master->waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("status"); }, kReplyMs);
        QVERIFY(status >= 0);
        QCOMPARE(master->events()[std::size_t(status)].integer(QStringLiteral("entries")), qint64(1));
    }

    void keyChangesWhileCommandsArrive()
    {
#ifndef Q_OS_UNIX
        QSKIP("no SIGHUP here: a key file is read at the start only");
#endif
        const QByteArray oldKey = keyLine(1, 'o');
        const QByteArray newKey = keyLine(2, 'n');
        const QString slaveKeys = QStringLiteral("slave-keys");
        const QString masterKeys = QStringLiteral("master-keys");
        const auto slave = startSlave(QStringLiteral("127.0.0.84"), writeKeys(slaveKeys, oldKey));
        // Not admitted, it hears the commands that the master signs with the new key, and only those.
        const auto witness = startSlave(QStringLiteral("127.0.0.85"), writeKeys(QStringLiteral("witness-keys"), newKey));
        QVERIFY(slave && witness);
        const auto master = startMaster({slave.get()}, writeKeys(masterKeys, oldKey));
        QVERIFY(master);
        master->send(QStringLiteral("find"));
        QVERIFY(masterWaits(*master, QStringLiteral("roster 1")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("start")));

        // Both ends take the new key beside the old one, which still signs.
        QVERIFY(changeKeys(*slave, slaveKeys, oldKey + newKey, QStringLiteral("1,2")));
        QVERIFY(changeKeys(*master, masterKeys, oldKey + newKey, QStringLiteral("1,2")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("pause")));
        // The master signs with the new key first; the slave, still signing with the old one, is heard.
        QVERIFY(changeKeys(*master, masterKeys, newKey + oldKey, QStringLiteral("2,1")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("speed 2")));
        const int heard = witness->waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("received"); }, kReplyMs);
        QVERIFY2(heard >= 0 && isReceived(witness->events()[std::size_t(heard)], QStringLiteral("speed")),
                 "the witness heard a command signed with the old key, or none signed with the new one");
        QVERIFY(arrives(*master, *slave, QStringLiteral("prepare")));
        QVERIFY(masterWaits(*master, QStringLiteral("prepared")));
        // Then the new key alone, at both ends.
        QVERIFY(changeKeys(*slave, slaveKeys, newKey, QStringLiteral("2")));
        QVERIFY(changeKeys(*master, masterKeys, newKey, QStringLiteral("2")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("stop")));
        QVERIFY(masterWaits(*master, QStringLiteral("complete")));

        // A file that cannot be taken leaves the key in force and says why, without a key in the line.
        const QByteArray shortKey = QByteArray(KeyFile::kKeyBytes, 'n').toHex().left(20);
        const QString path = writeKeys(slaveKeys, "2 " + shortKey + '\n');
        hangUp(*slave);
        QVERIFY2(printed(*slave, QStringLiteral("multinet-demo slave: key file %1 not taken: line 1: the key must be 64 hex "
                                                "digits (32 bytes), it has 20 characters; keys 2 stay in force")
                                     .arg(path)),
                 qPrintable(slave->recentOutput()));
        QVERIFY(!slave->recentOutput().contains(QLatin1String(shortKey)));
        QVERIFY(arrives(*master, *slave, QStringLiteral("step")));

        for (HostProcess* process : {master.get(), slave.get()}) {
            const std::optional<EventLine> drops = dropsOf(*process);
            QVERIFY(drops);
            for (const char* count : {"unsigned", "unknown-key", "bad-signature", "replayed", "signed-without-key"})
                QVERIFY2(drops->integer(QLatin1String(count)) == 0, qPrintable(process->name() + ": " + drops->text()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_DemoKeys)
#include "tst_demokeys.moc"
