// SPDX-License-Identifier: MIT
// Health reports: what a slave's host hands in, and what a master's host reads.
#include "MultiNetControl.h"

#include "control/MultiNetControlPrivate.h"

using namespace tamo::detail;

std::vector<NetControlNS::struSlaveHealth> MultiNetControl::getSlavesHealth()
{
    return m_impl->m_health.of(m_impl->m_roster.entries());
}

void MultiNetControl::setPresentation(const NetControlNS::struPresentation& presentation)
{
    m_impl->m_healthReporter.setPresentation(presentation);
}

void MultiNetControl::setHealthText(const std::string& text)
{
    m_impl->m_healthReporter.setText(text);
}
