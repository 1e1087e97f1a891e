// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"

#include "control/LogLine.h"
#include "net/UdpClient.h"

#include <cstring>

using namespace tamo::detail;

namespace {

constexpr int kOwnAddressType = 1;
constexpr char kLimitedBroadcastIp[] = "255.255.255.255";

std::unique_ptr<UdpClient> makeEndpoint(const NetControlNS::struAddress& address, NetControlNS::slaveControlCbk* cbk,
                                        RecvCallback onReceive)
{
    auto endpoint = std::make_unique<UdpClient>(address);
    endpoint->init(cbk);
    endpoint->setRecvCallback(std::move(onReceive));
    return endpoint;
}

} // namespace

std::atomic<bool> MultiNetControl::m_haveStartClockSync{false};

MultiNetControl::MultiNetControl(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp,
                                 unsigned int port)
    : m_port(port), m_cbk(cbk), m_groupId(groupId), m_localIp(std::move(localIp))
{
    std::memset(m_sendBuf, 0, sizeof m_sendBuf);
    try {
        NetControlNS::struAddress endpointAddress;
        endpointAddress.ip = m_localIp;
        endpointAddress.port = static_cast<int>(m_port);
        endpointAddress.addrType = kOwnAddressType;

        using namespace std::placeholders;
        m_broadcastClient = makeEndpoint(endpointAddress, m_cbk,
                                         std::bind(&MultiNetControl::recvBroadcastMsgHandle, this, _1, _2, _3));
        endpointAddress.port = 0;
        m_unicastClient = makeEndpoint(endpointAddress, m_cbk,
                                       std::bind(&MultiNetControl::recvUnicastMsgHandle, this, _1, _2, _3));
    } catch (...) {
        stop();  // the worker must not outlive a constructor that failed
        throw;
    }

    m_slaves.clear();
    m_broadcastAddr.ip = kLimitedBroadcastIp;
    m_broadcastAddr.port = static_cast<int>(m_port);
    m_broadcastAddr.addrType = kOwnAddressType;
}

MultiNetControl::~MultiNetControl()
{
    logLine("~MultiNetControl() \n");
    stop();
    stopClockSyncThreads();
    joinClockSyncThreads();
    // The endpoints go before anything their receive callbacks reach.
    m_broadcastClient.reset();
    m_unicastClient.reset();
}

void MultiNetControl::setMasterFlag(bool master)
{
    logLine("MultiNetControl::setMasterFlag master = %d\n", master ? 1 : 0);
    m_isMaster = master;
}

void MultiNetControl::setSlaveFlag(bool slave)
{
    logLine("MultiNetControl::setSlaveFlag slave = %d\n", slave ? 1 : 0);
    m_isSlave = slave;
}

void MultiNetControl::setMasterIp(std::string masterIp)
{
    logLine("MultiNetControl::setMasterIp masterIp = %s\n", masterIp.c_str());
    std::lock_guard<std::mutex> lock(m_addressMutex);
    m_masterIp = std::move(masterIp);
}

void MultiNetControl::setGroupId(int group_id)
{
    logLine("MultiNetControl::setGroupId group_id = %d\n", group_id);
    m_groupId = group_id;
}

void MultiNetControl::recvBroadcastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    postMessage(ControlMessage(data, len, std::move(from)));
}

void MultiNetControl::recvUnicastMsgHandle(const char* data, int len, NetControlNS::struAddress from)
{
    postMessage(ControlMessage(data, len, std::move(from)));
}

std::string MultiNetControl::getCurrentTime()
{
    return currentLogTime();
}

NetControlNS::struAddress MultiNetControl::masterAddress() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterAddr;
}

std::string MultiNetControl::masterIp() const
{
    std::lock_guard<std::mutex> lock(m_addressMutex);
    return m_masterIp;
}
