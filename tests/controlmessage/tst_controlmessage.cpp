#include "MultiNetControl.h"

#include <QTest>

class tst_ControlMessage : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void datagramMessageOwnsItsBytes();
};

void tst_ControlMessage::defaults()
{
    const NetControlNS::struAddress a;
    QVERIFY(a.ip.empty());
    QCOMPARE(a.processId, -1);
    QCOMPARE(a.port, 0);
    QCOMPARE(a.layerId, -1);
    QVERIFY(!a.isPrepared && !a.isClockSynced && !a.isComplete && !a.isReserved);
    QCOMPARE(a.lastOnlineTime, qint64(-1));
    QCOMPARE(a.addrType, 3);

    const ControlMessage quit(-1, 0, 0, 0);
    QCOMPARE(quit.msgType, -1);
    QVERIFY(quit.data.empty());
    QVERIFY(quit.sender.ip.empty());
}

void tst_ControlMessage::datagramMessageOwnsItsBytes()
{
    NetControlNS::struAddress from;
    from.ip = "127.0.0.9";
    from.port = 4000;

    // A length of 0 keeps neither bytes nor sender.
    const ControlMessage empty("abc", 0, from);
    QVERIFY(empty.data.empty());
    QVERIFY(empty.sender.ip.empty());
    QCOMPARE(empty.sender.port, 0);

    char bytes[] = {1, 2, 3};
    const ControlMessage original(bytes, 3, from);
    bytes[0] = 9;  // the message copied them
    QCOMPARE(original.msgType, 0);
    QCOMPARE(original.data, std::vector<char>({1, 2, 3}));
    QCOMPARE(original.sender.ip, std::string("127.0.0.9"));

    ControlMessage copy = original;
    copy.data[1] = 7;
    QCOMPARE(original.data[1], char(2));
}

QTEST_GUILESS_MAIN(tst_ControlMessage)
#include "tst_controlmessage.moc"
