// SPDX-License-Identifier: MIT
// A slave control object whose master is a raw socket on loopback: what the master sends can be forged,
// lost or repeated at will, and what the slave sends back is kept.
#pragma once

#include "MultiNetControl.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"

struct SlaveWithRawMaster
{
    explicit SlaveWithRawMaster(int group, const QString& slaveIp = QStringLiteral("127.0.0.2"),
                                const QString& masterIp = QStringLiteral("127.0.0.1"))
        : ip(slaveIp), slave(host.callbacks(), group, slaveIp.toStdString(), pickFreePort()), master(masterIp)
    {
        slave.setSlaveFlag(true);
        slave.setMasterIp(masterIp.toStdString());
    }

    // Sends `datagram` from the master's socket to the slave's own port.
    void send(const QByteArray& datagram) { master.send(datagram, ip, slave.unicastPort()); }

    const QString ip;
    RecordingHost host;
    MultiNetControl slave;
    RawPeer master;
};
