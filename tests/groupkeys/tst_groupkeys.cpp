// SPDX-License-Identifier: MIT
// An authenticated group: with keys, a slave takes only what its group signed, and a forger with the
// master's address, a copy of a genuine datagram or an old recording gets nowhere; the key changes during
// a show without a gap; a node without keys drops signed datagrams cleanly.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackGroup.h"
#include "common/LoopbackPeers.h"
#include "endpoint/Keyring.h"
#include "wire/ByteOrder.h"
#include "wire/MessageCode.h"

#include <QTest>

using namespace tamo::detail;

namespace {

NetControlNS::struGroupKey key(int id, char fill)
{
    return NetControlNS::struGroupKey{id, std::string(32, fill)};
}

using Keys = std::vector<NetControlNS::struGroupKey>;

// Gives a datagram signed with key(7, 'k') another counter, and the MAC that goes with it.
void signAgain(QByteArray& bytes, int body, std::uint16_t port, std::uint64_t counter)
{
    wire::putU64(bytes.data() + body + 1, counter);
    const Mac mac = computeMac(QByteArray(32, 'k'), bytes.constData(), body, port, 7, counter);
    std::copy(mac.begin(), mac.end(), bytes.data() + body + 9);
}

} // namespace

Q_DECLARE_METATYPE(Keys)

class tst_GroupKeys : public QObject
{
    Q_OBJECT

private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }
    void keysOfAGroup_data();
    void keysOfAGroup();
    void forgedCopiedAndOldDatagramsAreDropped();
    void unacceptableKeysChangeNothing_data();
    void unacceptableKeysChangeNothing();
    void replayWindow_data();
    void replayWindow();
};

void tst_GroupKeys::keysOfAGroup_data()
{
    QTest::addColumn<Keys>("masterKeys");
    QTest::addColumn<Keys>("slaveKeys");
    QTest::addColumn<bool>("heard");
    QTest::newRow("one key") << Keys{key(1, 'a')} << Keys{key(1, 'a')} << true;
    QTest::newRow("another key") << Keys{key(1, 'a')} << Keys{key(1, 'z')} << false;
    QTest::newRow("the slave has none") << Keys{key(1, 'a')} << Keys{} << false;
    QTest::newRow("the master has none") << Keys{} << Keys{key(1, 'a')} << false;
}

// A whole exchange, clock sync and a command included, between a master and a slave with these keys.
void tst_GroupKeys::keysOfAGroup()
{
    QFETCH(Keys, masterKeys);
    QFETCH(Keys, slaveKeys);
    QFETCH(bool, heard);
    LogCapture log;
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    MultiNetControl& master = *group.master().control;
    QVERIFY(master.setGroupKeys(masterKeys));
    QVERIFY(slave.control->setGroupKeys(slaveKeys));
    if (!heard) {
        QVERIFY(master.findSlavePlayer());
        for (int i = 0; i < 20; ++i)
            QVERIFY(master.notifySlavePause(0, 0, nullptr, 0));
        const auto dropped = [&] {
            const NetControlNS::struDropCounts d = slave.control->getDropCounts();
            return d.unknownKey + d.signedWithoutKey + d.unsignedDatagrams + d.badSignature;
        };
        QVERIFY(runEventLoopUntil([&] { return dropped() == 21; }));
        QVERIFY(master.getSlavesPlayer().empty());
        QCOMPARE(slave.host->callCount(), 0);
        // One line for the kind from that sender, however many are dropped.
        QCOMPARE(log.text().count("MultiNetControl WARING dropped"), 1);
        return;
    }
    QVERIFY(group.discover());
    QVERIFY(master.notifySlaveStartClockSync());
    QVERIFY(runEventLoopUntil([&] { return master.isAllSlaveClockSucced(); }, 5000));
    QVERIFY(master.notifySlavePause(0.5, 0, nullptr, 0));
    QVERIFY(runEventLoopUntil([&] { return slave.host->callCount() == 1; }));
    const NetControlNS::struDropCounts drops = slave.control->getDropCounts();
    QCOMPARE(drops.unsignedDatagrams + drops.unknownKey + drops.badSignature + drops.replayed, quint64(0));
    QVERIFY(!log.text().contains(QByteArray(32, 'a')));  // keys never printed
}

// A forger on the master's address: unsigned, signed with a guessed MAC, a genuine datagram sent again,
// the same from another port, and one signed long ago.
void tst_GroupKeys::forgedCopiedAndOldDatagramsAreDropped()
{
    LogCapture log;
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    const Keys keys{key(7, 'k')};
    QVERIFY(group.master().control->setGroupKeys(keys));
    QVERIFY(slave.control->setGroupKeys(keys));
    QVERIFY(group.discover());

    RawPeer forger(QStringLiteral("127.0.0.1"));
    RawPeer otherPort(QStringLiteral("127.0.0.1"));
    const QByteArray pause = buildDatagram(enM2SPauseCmd, 0, LoopbackGroup::kGroupId, QByteArray(8, '\0'));
    const auto send = [&](RawPeer& from, const QByteArray& bytes) {
        from.send(bytes, QStringLiteral("255.255.255.255"), group.port());
    };
    Keyring genuine;  // what a thief of the bytes on the wire has: signed datagrams, no key
    std::string why;
    QVERIFY(genuine.setKeys(keys, why));
    const auto signedNow = [&] {
        QTest::qWait(2);  // each with a counter of its own
        QByteArray out(pause.size() + kSignatureSize, '\0');
        genuine.sign(pause.constData(), pause.size(), forger.port(), out.data());
        return out;
    };
    const QByteArray signedPause = signedNow(), second = signedNow(), third = signedNow();
    QByteArray guessed = signedPause;
    guessed[guessed.size() - 1] = char(guessed[guessed.size() - 1] ^ 1);

    send(forger, pause);                 // unsigned
    send(forger, guessed);               // a MAC one bit off
    send(otherPort, signedPause);        // genuine bytes, another port
    send(forger, signedPause);           // the genuine one: taken
    // Two more that arrive the other way round (a node reads its sockets in turn): both taken, once.
    send(forger, third);
    send(forger, second);
    send(forger, second);                // a copy
    QVERIFY(runEventLoopUntil([&] {
        const NetControlNS::struDropCounts d = slave.control->getDropCounts();
        return d.unsignedDatagrams == 1 && d.badSignature == 2 && d.replayed == 1;
    }));
    QVERIFY(runEventLoopUntil([&] { return slave.host->callCount() == 3; }));

    // A recording from before the slave's start, from a sender it has not seen yet: its counter lies far
    // behind this PC's clock.
    RawPeer stranger(QStringLiteral("127.0.0.1"));
    QByteArray old = signedPause;
    signAgain(old, pause.size(), stranger.port(), 1000);
    send(stranger, old);
    QVERIFY(runEventLoopUntil([&] { return slave.control->getDropCounts().replayed == 2; }));
    QCOMPARE(slave.host->callCount(), 3);
}

void tst_GroupKeys::unacceptableKeysChangeNothing_data()
{
    QTest::addColumn<Keys>("keys");
    QTest::newRow("id 0") << Keys{key(0, 'a')};
    QTest::newRow("id 256") << Keys{key(256, 'a')};
    QTest::newRow("31 bytes") << Keys{NetControlNS::struGroupKey{1, std::string(31, 'a')}};
    QTest::newRow("one id twice") << Keys{key(3, 'a'), key(3, 'b')};
    QTest::newRow("three keys") << Keys{key(1, 'a'), key(2, 'b'), key(3, 'c')};
}

void tst_GroupKeys::unacceptableKeysChangeNothing()
{
    QFETCH(Keys, keys);
    LogCapture log;
    LoopbackGroup group;
    LoopbackNode& slave = group.addSlave("127.0.0.2");
    QVERIFY(group.master().control->setGroupKeys({key(1, 'a')}));
    QVERIFY(slave.control->setGroupKeys({key(1, 'a')}));
    QVERIFY(!slave.control->setGroupKeys(keys));
    QVERIFY(log.text().contains("MultiNetControl::setGroupKeys WARING keys refused, those in force stay"));
    QVERIFY(group.discover());  // the key in force still works
}

// One sender's counters, in microseconds after a start of about now, in the order they arrive, and what
// the door says to each: A taken, R refused as a copy or too old.
void tst_GroupKeys::replayWindow_data()
{
    QTest::addColumn<QVector<qint64>>("counters");
    QTest::addColumn<QString>("verdicts");
    const qint64 window = qint64(Keyring::kReorderWindowUs);
    QTest::newRow("in order, then copies") << QVector<qint64>{0, 1, 2, 2, 0} << "AAARR";
    QTest::newRow("late ones fill the gaps once") << QVector<qint64>{0, 10, 5, 3, 5, 7, 3} << "AAAARAR";
    QTest::newRow("older than the first heard") << QVector<qint64>{10, 9} << "AR";
    QTest::newRow("the window's edge") << QVector<qint64>{0, window + 1, 2, 1, window} << "AAARA";
    QVector<qint64> flood;
    for (qint64 i = 0; i < qint64(Keyring::kMaxRememberedCounters) + 10; ++i)
        flood << 2 * i;
    const qint64 lastGap = flood.back() - 1;
    // Beyond the bound the oldest are taken as seen, gaps among them too; a gap still in memory is taken
    // once.
    QTest::newRow("a flood") << (flood + QVector<qint64>{1, lastGap, lastGap})
                             << QString(flood.size(), 'A') + "RAR";
}

void tst_GroupKeys::replayWindow()
{
    QFETCH(QVector<qint64>, counters);
    QFETCH(QString, verdicts);
    LogCapture log;
    Keyring door;
    std::string why;
    QVERIFY(door.setKeys({key(7, 'k')}, why));
    const QByteArray pause = buildDatagram(enM2SPauseCmd, 0, LoopbackGroup::kGroupId, QByteArray(8, '\0'));
    QByteArray bytes(pause.size() + kSignatureSize, '\0');
    door.sign(pause.constData(), pause.size(), 47000, bytes.data());
    const std::uint64_t start = wire::getU64(bytes.constData() + pause.size() + 1);
    QString seen;
    for (const qint64 offset : counters) {
        signAgain(bytes, pause.size(), 47000, start + std::uint64_t(offset));
        int len = bytes.size();
        seen += door.verify(bytes.constData(), len, "127.0.0.1", 47000) == Keyring::Verdict::Accepted ? 'A' : 'R';
    }
    QCOMPARE(seen, verdicts);
}

QTEST_GUILESS_MAIN(tst_GroupKeys)
#include "tst_groupkeys.moc"
