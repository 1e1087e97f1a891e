// SPDX-License-Identifier: MIT
// A host for tests: fills every callback, records each call with its values, and supplies a host clock
// that the test controls (the monotonic clock plus an offset that the test may change at any time).
#pragma once

#include "HostClock.h"
#include "MultiNetControl.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

struct HostCall
{
    QString name;            // "start", "speed", "step", "stepBack", "pause", "prepare", "stop", "seek"
    int layerId = 0;
    std::vector<double> values;
    qint64 position = 0;     // seek only
    bool flag = false;       // seek only
    bool userDataNull = true;
    QByteArray userData;
};

class RecordingHost
{
public:
    // A host whose clock runs `clockDriftPpm` faster than the monotonic clock, as another PC's may.
    explicit RecordingHost(double clockDriftPpm = 0.0);

    NetControlNS::slaveControlCbk* callbacks() { return &m_cbk; }

    std::vector<HostCall> calls() const;
    int callCount() const;
    std::vector<double> clockOffsets() const;
    int masterLostCount() const { return m_masterLost; }

    // The layer ids answered to a search for partners.
    void setLayerIds(std::vector<int> ids);
    // Moves this host's clock relative to the monotonic clock.
    void setClockOffsetUs(qint64 offset) { m_clock.setOffsetUs(offset); }
    // Stops this host's clock at `us`, so that the library reads that time exactly; a negative value lets
    // it run again.
    void stopClockAt(qint64 us) { m_stoppedAt = us; }
    qint64 now() const;

private:
    void record(HostCall call);

    NetControlNS::slaveControlCbk m_cbk;
    mutable std::mutex m_mutex;
    std::vector<HostCall> m_calls;      // guarded by m_mutex
    std::vector<double> m_offsets;      // guarded by m_mutex
    std::vector<int> m_layerIds;        // guarded by m_mutex
    HostClock m_clock;
    std::atomic<qint64> m_stoppedAt{-1};
    std::atomic<int> m_masterLost{0};
};
