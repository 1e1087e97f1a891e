// SPDX-License-Identifier: MIT
// The demo host's clock: the monotonic clock that every process of this machine shares, plus an offset
// of this host's own, so that clock synchronisation has something to find. The offset can be moved
// forward while the host runs (to let a slave's clock run far ahead without waiting).
#pragma once

#include <QtGlobal>

#include <atomic>

class HostClock
{
public:
    explicit HostClock(qint64 offsetUs) : m_offsetUs(offsetUs) {}

    qint64 nowUs() const { return monotonicUs() + m_offsetUs; }
    qint64 offsetUs() const { return m_offsetUs; }
    void advance(qint64 us) { m_offsetUs += us; }

    // CLOCK_MONOTONIC in microseconds: the same time line in every process and network namespace here.
    static qint64 monotonicUs();

private:
    std::atomic<qint64> m_offsetUs;  // read by every thread of the library, moved by the host's main thread
};
