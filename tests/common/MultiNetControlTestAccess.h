// SPDX-License-Identifier: MIT
// Test access to the control object's internals: its state, and a way to hand it a datagram directly.
#pragma once

#include "MultiNetControl.h"
#include "common/LogLine.h"
#include "control/PrivateAccess.h"

#include <QByteArray>

class MultiNetControlTestAccess
{
public:
    explicit MultiNetControlTestAccess(MultiNetControl& control) : m_c(tamo::detail::PrivateAccess::of(control)) {}

    quint16 unicastPort() const { return m_c.m_unicastClient->boundPort(); }
    quint16 broadcastPort() const { return m_c.m_broadcastClient->boundPort(); }
    NetControlNS::struAddress broadcastAddr() const { return m_c.m_broadcastAddr; }
    NetControlNS::struAddress masterAddr() const { return m_c.m_link.masterAddress(); }
    std::string masterIp() const { return m_c.m_link.masterIp(); }
    bool isMaster() const { return m_c.m_flags.m_isMaster; }
    bool isSlave() const { return m_c.m_flags.m_isSlave; }
    int syncIntervalMs() const { return m_c.m_clockSync.interval(); }
    bool clockSyncRunning() const { return m_c.m_clockSync.isRunning(); }
    qint64 lastMasterTime() const { return m_c.m_link.lastAnswer(); }
    bool syncThreadStarted() const { return m_c.m_clockSync.requestsStarted(); }
    bool heartThreadStarted() const { return m_c.m_clockSync.heartbeatsStarted(); }
    // Start-clock-sync commands whose threads run now.
    int clockSyncGenerations() const { return m_c.m_clockSync.generations(); }
    void setSeq(quint16 seq) { m_c.m_channel.setNextSeq(seq); }
    quint16 seq() const { return m_c.m_channel.nextSeq(); }
    std::string currentTime() const { return tamo::detail::currentLogTime(); }

    // Runs the message handler on the calling thread, as the worker would for a received datagram.
    void handle(const QByteArray& bytes, const std::string& ip, int port)
    {
        NetControlNS::struAddress from;
        from.ip = ip;
        from.port = port;
        ControlMessage message(bytes.constData(), bytes.size(), from);
        m_c.handleMessage(message);
    }
    void recordSignOfLife(qint64 time, const NetControlNS::struAddress& addr)
    {
        m_c.m_roster.setSlaveLastOnlineTime(time, addr);
    }

private:
    tamo::detail::MultiNetControlPrivate& m_c;
};
