// SPDX-License-Identifier: MIT
// The control object's life: construction, destruction, roles, group, master IP and the opt-ins.
#include "MultiNetControl.h"

#include "common/LogLine.h"
#include "control/MultiNetControlPrivate.h"

#include <cstdlib>

using namespace tamo::detail;

namespace {

// Group ids travel as 16 bits; a received one never equals an id outside 0 to 65535.
void warnIfGroupIdDoesNotFit(int groupId)
{
    if (groupId < 0 || groupId > 0xFFFF)
        logLine("MultiNetControl WARING group id %d is outside 0 to 65535: it is sent as %d and no received "
                "datagram can match it\n",
                groupId, groupId & 0xFFFF);
}

} // namespace

std::atomic<bool> MultiNetControl::m_haveStartClockSync{false};

MultiNetControl::MultiNetControl(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp,
                                 unsigned int port)
{
    if (port > 0xFFFF)
        logLine("MultiNetControl WARING port %u is above 65535: only its low 16 bits are used, port %u\n", port,
                port & 0xFFFF);
    warnIfGroupIdDoesNotFit(groupId);
    try {
        m_impl = std::make_unique<MultiNetControlPrivate>(cbk, groupId, std::move(localIp), port,
                                                          [this](ControlMessage msg) { postMessage(std::move(msg)); });
    } catch (...) {
        stop();  // the worker must not outlive a constructor that failed
        throw;
    }
}

MultiNetControl::~MultiNetControl()
{
    logLine("~MultiNetControl() \n");
    if (onWorkerThread()) {
        // The worker cannot join itself, and the code that called the host still uses the object.
        logLine("~MultiNetControl ERROR  destroyed from a callback on the library's worker thread: not "
                "supported (only masterLostCbk may destroy the object); the process ends\n");
        std::abort();
    }
    stop();
    m_impl->shutDown();
}

void MultiNetControl::handle_message(ControlMessage msg)
{
    m_impl->handleMessage(msg);
}

void MultiNetControl::setMasterFlag(bool master)
{
    logLine("MultiNetControl::setMasterFlag master = %d\n", master ? 1 : 0);
    m_impl->m_flags.m_isMaster = master;
}

void MultiNetControl::setSlaveFlag(bool slave)
{
    logLine("MultiNetControl::setSlaveFlag slave = %d\n", slave ? 1 : 0);
    m_impl->m_flags.m_isSlave = slave;
    m_impl->dropOwnBroadcastsUnlessSlave();
}

void MultiNetControl::setMasterIp(std::string masterIp)
{
    logLine("MultiNetControl::setMasterIp masterIp = %s\n", masterIp.c_str());
    m_impl->m_link.setMasterIp(std::move(masterIp));
}

void MultiNetControl::setGroupId(int group_id)
{
    logLine("MultiNetControl::setGroupId group_id = %d\n", group_id);
    warnIfGroupIdDoesNotFit(group_id);
    m_impl->m_channel.setGroupId(group_id);
}

void MultiNetControl::setAcknowledgedDelivery(bool on)
{
    logLine("MultiNetControl::setAcknowledgedDelivery on = %d\n", on ? 1 : 0);
    m_impl->m_flags.set(NetControlNS::AcknowledgedDelivery, on);
}

void MultiNetControl::setRecovery(bool on)
{
    logLine("MultiNetControl::setRecovery on = %d\n", on ? 1 : 0);
    for (NetControlNS::Option option : {NetControlNS::SlaveBackOnLine, NetControlNS::FollowRestartedMaster,
                                        NetControlNS::MasterSilenceFromFirstHeartbeat})
        m_impl->m_flags.set(option, on);
}

void MultiNetControl::setAdmitRestartedSlaves(bool admit)
{
    logLine("MultiNetControl::setAdmitRestartedSlaves admit = %d\n", admit ? 1 : 0);
    m_impl->m_flags.set(NetControlNS::AdmitRestartedSlaves, admit);
}

void MultiNetControl::setOptions(unsigned options)
{
    logLine("MultiNetControl::setOptions options = 0x%x\n", options);
    m_impl->m_flags.m_options = options;
    m_impl->m_healthReporter.optionsChanged();
}

unsigned MultiNetControl::options() const
{
    return m_impl->m_flags.m_options;
}

NetControlNS::struClockEstimate MultiNetControl::getClockEstimate() const
{
    return m_impl->m_samples.estimate();
}

bool MultiNetControl::setGroupKeys(const std::vector<NetControlNS::struGroupKey>& keys)
{
    std::string ids;
    for (const NetControlNS::struGroupKey& key : keys)
        ids += (ids.empty() ? "" : ", ") + std::to_string(key.id);
    logLine("MultiNetControl::setGroupKeys keys = %d (ids %s)\n", int(keys.size()), ids.empty() ? "none" : ids.c_str());
    std::string why;
    if (!m_impl->m_keyring.setKeys(keys, why)) {
        logLine("MultiNetControl::setGroupKeys WARING keys refused, those in force stay: %s\n", why.c_str());
        return false;
    }
    m_impl->m_flags.m_keyed = !keys.empty();
    return true;
}

NetControlNS::struDropCounts MultiNetControl::getDropCounts() const
{
    return m_impl->m_keyring.counts();
}
