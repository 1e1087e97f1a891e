// SPDX-License-Identifier: MIT
#include "LoopbackPlan.h"

#include <QHostAddress>
#include <QUdpSocket>

QString loopbackSlaveIp(int index)
{
    return QStringLiteral("127.0.0.%1").arg(index + 2);
}

qint64 injectedOffsetUs(int index)
{
    return (index % 2 == 0 ? 1 : -1) * (2500 + 1500 * qint64(index));
}

quint16 pickFreePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QString::fromLatin1(kLoopbackMasterIp)), 0);
    return probe.localPort();
}
