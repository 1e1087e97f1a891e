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

#include <functional>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

namespace {

constexpr int kStartMs = 15000;
constexpr int kReplyMs = 5000;
const QString kDemo = QStringLiteral(MULTINET_DEMO);
const QString kMasterIp = QStringLiteral("127.0.0.81");
const char* const kDropCounts[] = {"unsigned", "unknown-key", "bad-signature", "replayed", "signed-without-key"};

// A key line: `id` and a key of 32 bytes `c`.
QByteArray keyLine(int id, char c) { return QByteArray::number(id) + ' ' + QByteArray(KeyFile::kKeyBytes, c).toHex() + '\n'; }

bool isReceived(const EventLine& e, const QString& command) { return e.event() == "received" && e.value("command") == command; }

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

// Does `act` (a command sent, a signal) and waits for the next event of `process` that `match` accepts.
std::optional<EventLine> after(HostProcess& process, const std::function<void()>& act,
                               const std::function<bool(const EventLine&)>& match, int timeoutMs = kReplyMs)
{
    const std::size_t from = process.events().size();
    act();
    const int at = process.waitForEvent(match, timeoutMs, from);
    return at < 0 ? std::nullopt : std::optional<EventLine>(process.events()[std::size_t(at)]);
}

// Sends `line` and waits for the event named `reply`.
std::optional<EventLine> ask(HostProcess& process, const QString& line, const QString& reply, int timeoutMs = kReplyMs)
{
    return after(process, [&] { process.send(line); }, [&reply](const EventLine& e) { return e.event() == reply; }, timeoutMs);
}

// Has the master wait for `what` ("roster 1", "prepared", ...); true when the wait was met.
bool masterWaits(HostProcess& master, const QString& what)
{
    const std::optional<EventLine> waited = ask(master, "wait " + what, QStringLiteral("waited"), kReplyMs + 10000);
    return waited && waited->integer(QStringLiteral("met")) == 1;
}

// Has the master send `command` and waits until `slave` has received it.
bool arrives(HostProcess& master, HostProcess& slave, const QString& command)
{
    const QString name = command.section(QLatin1Char(' '), 0, 0);
    return bool(after(slave, [&] { master.send(command); }, [&name](const EventLine& e) { return isReceived(e, name); }));
}

// The drop counts of `process` other than `expected` are 0, and `expected`'s is not.
void checkDrops(HostProcess& process, const QString& expected = QString())
{
    const std::optional<EventLine> drops = ask(process, QStringLiteral("status"), QStringLiteral("drops"));
    QVERIFY(drops);
    for (const char* count : kDropCounts)
        QVERIFY2((drops->integer(QLatin1String(count)) == 0) == (expected != QLatin1String(count)),
                 qPrintable(process.name() + ": " + drops->text()));
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

    // A demo process: `role` at `ip` with `options`, in the test's group, on its port, ended with this test.
    std::unique_ptr<HostProcess> start(const QString& role, const QString& ip, const QString& options)
    {
        const QString line = QStringLiteral("%1 --ip %2 --port %3 --group 7 --parent %4 %5")
                                 .arg(role, ip).arg(m_port).arg(QCoreApplication::applicationPid()).arg(options);
        auto process = std::make_unique<HostProcess>(role + ' ' + ip, line.split(' ', Qt::SkipEmptyParts), false, kDemo);
        return process->start(kStartMs) ? std::move(process) : nullptr;
    }
    std::unique_ptr<HostProcess> startSlave(const QString& ip, const QString& keyFile)
    {
        return start(QStringLiteral("slave"), ip, "--master " + kMasterIp + (keyFile.isEmpty() ? "" : " --key-file " + keyFile));
    }
    // A master of `slaves` that has found them.
    std::unique_ptr<HostProcess> startMaster(const QList<const HostProcess*>& slaves, const QString& keyFile)
    {
        QStringList keys;
        for (const HostProcess* slave : slaves)
            keys << slave->readyLine().value(QStringLiteral("key"));
        auto master = start(QStringLiteral("master"), kMasterIp, "--slaves " + keys.join(',') + " --key-file " + keyFile);
        if (master)
            master->send(QStringLiteral("find"));
        return master && masterWaits(*master, QStringLiteral("roster 1")) ? std::move(master) : nullptr;
    }

    // SIGHUP to `process` once its key file `name` holds `lines`; true once it has taken keys `ids`.
    bool changeKeys(HostProcess& process, const QString& name, const QByteArray& lines, const QString& ids)
    {
        writeKeys(name, lines);
        return bool(after(process, [&process] { hangUp(process); }, [&ids](const EventLine& e) {
            return e.event() == QLatin1String("keys-reloaded") && e.value(QStringLiteral("ids")) == ids;
        }));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_port = pickFreePort();
        QVERIFY(m_dir.isValid() && m_port != 0);
    }

    void keyedSessionPlays()
    {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(kDemo, {QStringLiteral("run"), QStringLiteral("--slaves"), QStringLiteral("2"), QStringLiteral("--key-file"),
                          writeKeys(QStringLiteral("session"), keyLine(5, 's'))});
        QVERIFY(run.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(run.readAll());
        QVERIFY2(run.exitCode() == 0 && output.contains(QLatin1String(", keys 5")), qPrintable(output));
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
        QTest::newRow("no key") << QByteArray() << "signed-without-key" << "dropped a signed datagram from " + kMasterIp;
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
        QVERIFY(master && arrives(*master, *slave, QStringLiteral("start")));
        checkDrops(*odd, count);  // the search at least: it never heard it
        QVERIFY2(printed(*odd, line), qPrintable(odd->recentOutput()));
        for (const EventLine& e : odd->events())
            QVERIFY2(e.event() != QLatin1String("received"), qPrintable(e.text()));
    }

    void keyChangesWhileCommandsArrive()
    {
#ifndef Q_OS_UNIX
        QSKIP("no SIGHUP here: a key file is read at the start only");
#endif
        const QByteArray oldKey = keyLine(1, 'o'), newKey = keyLine(2, 'n');
        const QString slaveKeys = QStringLiteral("slave-keys"), masterKeys = QStringLiteral("master-keys");
        const auto slave = startSlave(QStringLiteral("127.0.0.84"), writeKeys(slaveKeys, oldKey));
        // Not admitted, it hears the commands that the master signs with the new key, and only those.
        const auto witness = startSlave(QStringLiteral("127.0.0.85"), writeKeys(QStringLiteral("witness-keys"), newKey));
        QVERIFY(slave && witness);
        const auto master = startMaster({slave.get()}, writeKeys(masterKeys, oldKey));
        QVERIFY(master && arrives(*master, *slave, QStringLiteral("start")));

        // Both ends take the new key beside the old one, which still signs.
        QVERIFY(changeKeys(*slave, slaveKeys, oldKey + newKey, "1,2") && changeKeys(*master, masterKeys, oldKey + newKey, "1,2"));
        QVERIFY(arrives(*master, *slave, QStringLiteral("pause")));
        // The master signs with the new key first; the slave, still signing with the old one, is heard.
        QVERIFY(changeKeys(*master, masterKeys, newKey + oldKey, QStringLiteral("2,1")));
        QVERIFY(arrives(*master, *slave, QStringLiteral("speed 2")));
        const int heard = witness->waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("received"); }, kReplyMs);
        QVERIFY2(heard >= 0 && isReceived(witness->events()[std::size_t(heard)], QStringLiteral("speed")),
                 "the witness heard a command signed with the old key, or none signed with the new one");
        QVERIFY(arrives(*master, *slave, QStringLiteral("prepare")) && masterWaits(*master, QStringLiteral("prepared")));
        // Then the new key alone, at both ends.
        QVERIFY(changeKeys(*slave, slaveKeys, newKey, "2") && changeKeys(*master, masterKeys, newKey, "2"));
        QVERIFY(arrives(*master, *slave, QStringLiteral("stop")) && masterWaits(*master, QStringLiteral("complete")));

        // A file that cannot be taken leaves the key in force and says why, without a key in the line.
        const QByteArray shortKey = QByteArray(KeyFile::kKeyBytes, 'n').toHex().left(20);
        const QString path = writeKeys(slaveKeys, "2 " + shortKey + '\n');
        hangUp(*slave);
        const QString why = " not taken: line 1: the key must be 64 hex digits (32 bytes), it has 20 characters; keys 2 stay in force";
        QVERIFY2(printed(*slave, "multinet-demo slave: key file " + path + why), qPrintable(slave->recentOutput()));
        QVERIFY(!slave->recentOutput().contains(QLatin1String(shortKey)));
        QVERIFY(arrives(*master, *slave, QStringLiteral("step")));
        checkDrops(*master);
        checkDrops(*slave);
    }
};

QTEST_GUILESS_MAIN(tst_DemoKeys)
#include "tst_demokeys.moc"
