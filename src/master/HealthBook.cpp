// SPDX-License-Identifier: MIT
#include "master/HealthBook.h"

namespace tamo::detail {

bool HealthBook::note(const NetControlNS::struAddress& sender, const HealthReport& report, qint64 atUs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Endpoint endpoint{sender.ip, sender.port};
    const auto it = m_noted.find(endpoint);
    if (it == m_noted.end()) {
        if (m_noted.size() >= kMaxEndpoints)
            return false;
        m_noted.emplace(endpoint, Noted{report, atUs});
        return true;
    }
    const bool changed = !(it->second.report == report);
    it->second = Noted{report, atUs};
    return changed;
}

std::vector<NetControlNS::struSlaveHealth> HealthBook::of(const std::vector<NetControlNS::struAddress>& entries) const
{
    std::vector<NetControlNS::struSlaveHealth> health;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const NetControlNS::struAddress& entry : entries) {
        NetControlNS::struSlaveHealth h;
        h.slave = entry;
        const auto it = m_noted.find(Endpoint{entry.ip, entry.port});
        if (it != m_noted.end()) {
            const HealthReport& r = it->second.report;
            h.known = true;
            h.receivedAtUs = it->second.atUs;
            h.clockValid = r.flags & HealthReport::ClockValid;
            h.rateKnown = r.flags & HealthReport::RateKnown;
            h.offsetUs = r.offsetUs;
            h.ratePpm = r.ratePpm;
            h.uncertaintyUs = r.uncertaintyUs;
            if (r.flags & HealthReport::CommandKnown) {
                h.lastCommandCode = r.lastCommandCode;
                h.lastCommandSeq = r.lastCommandSeq;
            }
            h.repeatsDropped = r.repeatsDropped;
            h.presentationKnown = r.flags & HealthReport::PresentationKnown;
            h.presentation = NetControlNS::struPresentation{r.lateP50Us, r.lateP99Us, r.framesShown, r.framesDropped};
            h.text = r.text;
        }
        health.push_back(std::move(h));
    }
    return health;
}

} // namespace tamo::detail
