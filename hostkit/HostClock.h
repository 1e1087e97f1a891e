// SPDX-License-Identifier: MIT
// A host's clock: the monotonic clock that every process of this machine shares, plus an offset of this
// host's own, so that clock synchronisation has something to find, and optionally a rate of its own, as
// a PC's oscillator has (tens of ppm between PCs). The offset can be moved while the host runs (to let a
// slave's clock run far ahead without waiting).
//
// A clock that drifts runs `driftPpm` faster than the monotonic clock from the moment it is made: a
// simulation of another PC, in which everything that keeps time for playback must use this clock (and
// toRealUs() for its waits), while measurements of what happened keep to the undrifted monotonic clock.
#pragma once

#include <QtGlobal>

#include <atomic>

class HostClock
{
public:
    explicit HostClock(qint64 offsetUs, double driftPpm = 0.0);

    qint64 nowUs() const { return atMonotonicUs(monotonicUs()); }
    // This clock's reading when the monotonic clock reads `monoUs`.
    qint64 atMonotonicUs(qint64 monoUs) const;
    // The monotonic time at which this clock reads `hostUs`.
    qint64 monotonicAtUs(qint64 hostUs) const;
    // How long `hostUs` microseconds of this clock take in real (monotonic) time.
    qint64 toRealUs(qint64 hostUs) const;

    qint64 offsetUs() const { return m_offsetUs; }
    double driftPpm() const { return m_driftPpm; }
    // The monotonic time at which the drift began: this clock read monotonic + offset then.
    qint64 anchorMonotonicUs() const { return m_anchorUs; }
    void advance(qint64 us) { m_offsetUs += us; }
    void setOffsetUs(qint64 us) { m_offsetUs = us; }

    // CLOCK_MONOTONIC in microseconds: the same time line in every process and network namespace here.
    static qint64 monotonicUs();

private:
    const qint64 m_anchorUs;
    const double m_driftPpm;
    std::atomic<qint64> m_offsetUs;  // read by every thread of the library, moved by the host's main thread
};
