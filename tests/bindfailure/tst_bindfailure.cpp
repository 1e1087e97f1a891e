// SPDX-License-Identifier: MIT
// A control object whose sockets could not bind says so: one line at construction with the address, the
// port and the system's reason, and isListening()/errorString() for a host that must refuse to go on.
#include "MultiNetControl.h"

#include "common/LogCapture.h"
#include "common/LoopbackPeers.h"

#include <QTest>
#include <QUdpSocket>

class tst_BindFailure : public QObject
{
    Q_OBJECT
private slots:
    void listeningState_data();
    void listeningState();
};

void tst_BindFailure::listeningState_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("takePort");
    QTest::addColumn<QString>("reason");  // empty: listening
    QTest::newRow("loopback") << "127.0.0.1" << false << QString();
    QTest::newRow("not an address") << "not-an-ip" << false << "not an IPv4 address";
    QTest::newRow("out of range") << "999.1.1.1" << false << "not an IPv4 address";
    QTest::newRow("empty") << "" << false << "not an IPv4 address";
    QTest::newRow("not an address of this machine") << "192.0.2.1" << false << "The address is not available";
#ifndef Q_OS_WIN
    // On Windows the address-reuse hint lets a second socket take a port that another holds.
    QTest::newRow("group port taken") << "127.0.0.1" << true << "The bound address is already in use";
#endif
}

void tst_BindFailure::listeningState()
{
    QFETCH(QString, ip);
    QFETCH(bool, takePort);
    QFETCH(QString, reason);
    QUdpSocket taker;  // without address reuse: nobody else may bind its port
    quint16 port = pickFreePort();
    if (takePort) {
        QVERIFY2(taker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0), qPrintable(taker.errorString()));
        port = taker.localPort();
    }
    LogCapture log;
    NetControlNS::slaveControlCbk host;
    MultiNetControl control(&host, 7, ip.toStdString(), port);

    QCOMPARE(control.isListening(), reason.isEmpty());
    const QString error = QString::fromStdString(control.errorString());
    if (reason.isEmpty()) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!log.text().contains("cannot bind"));
        return;
    }
    const QString groupSocket = ip + " port " + QString::number(port) + ": " + reason;
    QVERIFY2(error.startsWith(groupSocket), qPrintable(error));
    const QByteArray line = "cannot bind to address \"" + ip.toLatin1() + "\" port " + QByteArray::number(port)
                            + ": " + reason.toLatin1() + "\n";
    QVERIFY2(log.text().contains(line), log.text().constData());
}

QTEST_GUILESS_MAIN(tst_BindFailure)
#include "tst_bindfailure.moc"
