// SPDX-License-Identifier: MIT
// The latest health report of each slave endpoint in the roster, as the master keeps them for its host.
#pragma once

#include "MultiNetControl.h"
#include "wire/HealthReport.h"

#include <QtGlobal>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tamo::detail {

class HealthBook
{
public:
    // Reports of more endpoints than this are not kept: far above a wall's screens, a bound against
    // forged senders that pass as roster entries.
    static constexpr std::size_t kMaxEndpoints = 1024;

    // Keeps `report` of `sender`'s endpoint, received at host time `atUs`; true when its figures differ
    // from the endpoint's last report (or it is the first). Worker thread.
    bool note(const NetControlNS::struAddress& sender, const HealthReport& report, qint64 atUs);
    // The health of each of `entries`, in their order. Any thread.
    std::vector<NetControlNS::struSlaveHealth> of(const std::vector<NetControlNS::struAddress>& entries) const;

private:
    struct Noted
    {
        HealthReport report;
        qint64 atUs;
    };
    using Endpoint = std::pair<std::string, int>;  // ip, port

    mutable std::mutex m_mutex;          // m_noted: the worker writes, the host's threads read
    std::map<Endpoint, Noted> m_noted;
};

} // namespace tamo::detail
