// SPDX-License-Identifier: MIT
// Before a time-stamped send after a pause, the endpoint rehearses the datagram as a multicast copy with a
// time to live of 0 to 239.255.254.9, port 9 (discard). On a network device the kernel drops it before the
// device; on loopback it passes, and a socket that joined that group on loopback receives it. This test is
// such a socket: what it hears is what a capture on loopback shows beside the protocol's datagrams.
#include "common/LoopbackGroup.h"
#include "wire/DatagramHeader.h"
#include "wire/MessageCode.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtTest>

using namespace tamo::detail;

class tst_SendPathWarmUp : public QObject
{
    Q_OBJECT

private slots:
    void init() { MultiNetControl::m_haveStartClockSync = false; }
    void rehearsalsStayOnThisMachine();
};

void tst_SendPathWarmUp::rehearsalsStayOnThisMachine()
{
    QUdpSocket listener;
    if (!listener.bind(QHostAddress::AnyIPv4, 9, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        QSKIP(qPrintable("port 9 needs root to listen on: " + listener.errorString()));
    // Joined on loopback only: a membership elsewhere would be announced on that network.
    const QNetworkInterface loopback = QNetworkInterface::interfaceFromName(QStringLiteral("lo"));
    if (!loopback.isValid())
        QSKIP("no loopback device named lo on this machine");
    QVERIFY2(listener.joinMulticastGroup(QHostAddress(QStringLiteral("239.255.254.9")), loopback),
             qPrintable(listener.errorString()));

    LoopbackGroup group;
    group.addSlave("127.0.0.2");
    QVERIFY(group.discover());
    QVERIFY(group.master().control->notifySlaveStartClockSync());

    // The slave's clock requests leave every 100 ms, each after a pause: each is rehearsed, and so is the
    // master's answer. No other datagram is stamped, and none other is rehearsed.
    int requests = 0;
    QString foreign;
    const auto heardEnough = [&] {
        while (listener.hasPendingDatagrams()) {
            const QNetworkDatagram copy = listener.receiveDatagram();
            const QByteArray bytes = copy.data();
            const auto code = peekMessageCode(bytes.constData(), std::size_t(bytes.size()));
            const bool clockDatagram = code == enS2MClockSyncRequestCmd || code == enM2SClockSyncReplyCmd;
            if (!clockDatagram || copy.destinationPort() != 9 || copy.hopLimit() != 0) {
                foreign = QStringLiteral("code %1 to port %2 with time to live %3")
                              .arg(code.value_or(0)).arg(copy.destinationPort()).arg(copy.hopLimit());
                return true;
            }
            requests += code == enS2MClockSyncRequestCmd && copy.senderAddress() == QHostAddress("127.0.0.2");
        }
        return requests >= 3;
    };
    QTRY_VERIFY_WITH_TIMEOUT(heardEnough(), 5000);
    QVERIFY2(foreign.isEmpty(), qPrintable(foreign));
    QVERIFY(requests >= 3);
}

QTEST_GUILESS_MAIN(tst_SendPathWarmUp)
#include "tst_sendpathwarmup.moc"
