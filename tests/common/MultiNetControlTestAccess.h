// SPDX-License-Identifier: MIT
// Test access to the control object's internals: its state, and a way to hand it a datagram directly.
#pragma once

#include "MultiNetControl.h"
#include "endpoint/UdpClient.h"

#include <QByteArray>

class MultiNetControlTestAccess
{
public:
    explicit MultiNetControlTestAccess(MultiNetControl& control) : m_c(control) {}

    quint16 unicastPort() const { return m_c.m_unicastClient->boundPort(); }
    quint16 broadcastPort() const { return m_c.m_broadcastClient->boundPort(); }
    NetControlNS::struAddress broadcastAddr() const { return m_c.m_broadcastAddr; }
    NetControlNS::struAddress masterAddr() const { return m_c.masterAddress(); }
    std::string masterIp() const { return m_c.masterIp(); }
    bool isMaster() const { return m_c.m_isMaster; }
    bool isSlave() const { return m_c.m_isSlave; }
    int syncIntervalMs() const { return m_c.m_syncIntervalMs; }
    bool clockSyncRunning() const { return m_c.m_clockSyncRunning; }
    qint64 lastMasterTime() const { return m_c.m_lastMasterTime; }
    bool syncThreadStarted() const { return m_c.m_syncThread.joinable(); }
    bool heartThreadStarted() const { return m_c.m_heartThread.joinable(); }
    // Start-clock-sync commands whose threads run now.
    int clockSyncGenerations() const { return m_c.m_clockSyncGenerations; }
    void setSeq(quint16 seq)
    {
        std::lock_guard<std::mutex> lock(m_c.m_sendMutex);
        m_c.m_seq = seq;
    }
    quint16 seq() const
    {
        std::lock_guard<std::mutex> lock(m_c.m_sendMutex);
        return m_c.m_seq;
    }
    std::string currentTime() const { return m_c.getCurrentTime(); }

    // Runs the message handler on the calling thread, as the worker would for a received datagram.
    void handle(const QByteArray& bytes, const std::string& ip, int port)
    {
        NetControlNS::struAddress from;
        from.ip = ip;
        from.port = port;
        m_c.handle_message(ControlMessage(bytes.constData(), bytes.size(), from));
    }
    void recordSignOfLife(qint64 time, const NetControlNS::struAddress& addr) { m_c.setSlaveLastOnlineTime(time, addr); }

private:
    MultiNetControl& m_c;
};
