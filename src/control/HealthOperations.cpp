// SPDX-License-Identifier: MIT
// Health reports: what a slave's host hands in, and what a master's host reads.
#include "MultiNetControl.h"

#include "control/MultiNetControlPrivate.h"
#include "wire/Payloads.h"

using namespace tamo::detail;

std::vector<NetControlNS::struSlaveHealth> MultiNetControl::getSlavesHealth()
{
    std::vector<NetControlNS::struSlaveHealth> health = m_impl->m_health.of(m_impl->m_roster.entries());
    for (NetControlNS::struSlaveHealth& h : health) {
        const std::uint16_t said = m_impl->m_roster.capabilitiesOf(h.slave);
        h.options = (said & Capabilities::AcknowledgedDelivery ? unsigned(NetControlNS::AcknowledgedDelivery) : 0u)
                    | (said & Capabilities::HealthReports ? unsigned(NetControlNS::HealthReports) : 0u);
        h.keyed = said & Capabilities::Keyed;
    }
    return health;
}

void MultiNetControl::setPresentation(const NetControlNS::struPresentation& presentation)
{
    m_impl->m_healthReporter.setPresentation(presentation);
}

void MultiNetControl::setHealthText(const std::string& text)
{
    m_impl->m_healthReporter.setText(text);
}
