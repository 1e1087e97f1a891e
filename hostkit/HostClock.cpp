// SPDX-License-Identifier: MIT
#include "HostClock.h"

#include <chrono>
#include <cmath>

HostClock::HostClock(qint64 offsetUs, double driftPpm)
    : m_anchorUs(monotonicUs()), m_driftPpm(driftPpm), m_offsetUs(offsetUs)
{
}

qint64 HostClock::atMonotonicUs(qint64 monoUs) const
{
    const qint64 elapsed = monoUs - m_anchorUs;
    return monoUs + m_offsetUs + std::llround(double(elapsed) * m_driftPpm * 1e-6);
}

qint64 HostClock::monotonicAtUs(qint64 hostUs) const
{
    const double sinceAnchor = double(hostUs - m_offsetUs - m_anchorUs) / (1.0 + m_driftPpm * 1e-6);
    return m_anchorUs + std::llround(sinceAnchor);
}

qint64 HostClock::toRealUs(qint64 hostUs) const
{
    return std::llround(double(hostUs) / (1.0 + m_driftPpm * 1e-6));
}

qint64 HostClock::monotonicUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
