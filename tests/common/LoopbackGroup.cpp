// SPDX-License-Identifier: MIT
#include "common/LoopbackGroup.h"

#include "EventLoopWait.h"
#include "common/LoopbackPeers.h"

#include <QCoreApplication>

LoopbackGroup::LoopbackGroup(const std::string& masterIp) : m_port(pickFreePort())
{
    m_master.ip = masterIp;
    m_master.host = std::make_unique<RecordingHost>();
    m_master.control = std::make_unique<MultiNetControl>(m_master.host->callbacks(), kGroupId, masterIp, m_port);
    m_master.control->setMasterFlag(true);
}

LoopbackNode& LoopbackGroup::addSlave(const std::string& ip, std::vector<int> layers, double clockDriftPpm)
{
    LoopbackNode node;
    node.ip = ip;
    node.host = std::make_unique<RecordingHost>(clockDriftPpm);
    node.host->setLayerIds(std::move(layers));
    node.control = std::make_unique<MultiNetControl>(node.host->callbacks(), kGroupId, ip, m_port);
    node.control->setSlaveFlag(true);
    node.control->setMasterIp(m_master.ip);
    m_slaves.push_back(std::move(node));

    QSet<QString> admitted;
    for (const LoopbackNode& slave : m_slaves)
        admitted.insert(admissionKey(slave.ip));
    m_master.control->setSlaves(admitted);
    return m_slaves.back();
}

bool LoopbackGroup::discover()
{
    std::size_t expected = 0;
    for (const LoopbackNode& slave : m_slaves)
        expected += slave.host->callbacks()->getLayerIdsCbk().size();
    if (!m_master.control->findSlavePlayer())
        return false;
    return runEventLoopUntil([&] { return m_master.control->getSlavesPlayer().size() == expected; });
}

QString LoopbackGroup::admissionKey(const std::string& ip)
{
    return QString::fromStdString(ip) + "_" + QString::number(QCoreApplication::applicationPid());
}
