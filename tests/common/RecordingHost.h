// SPDX-License-Identifier: MIT
// A host for tests: fills every callback, records each call with its values, and supplies a host clock
// that the test controls (the monotonic clock plus an offset that the test may change at any time).
#pragma once

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
    RecordingHost();

    NetControlNS::slaveControlCbk* callbacks() { return &m_cbk; }

    std::vector<HostCall> calls() const;
    int callCount() const;
    std::vector<double> clockOffsets() const;
    int masterLostCount() const { return m_masterLost; }

    // The layer ids answered to a search for partners.
    void setLayerIds(std::vector<int> ids);
    // Moves this host's clock relative to the monotonic clock.
    void setClockOffsetUs(qint64 offset) { m_clockOffsetUs = offset; }
    qint64 now() const;

    static qint64 monotonicUs();

private:
    void record(HostCall call);

    NetControlNS::slaveControlCbk m_cbk;
    mutable std::mutex m_mutex;
    std::vector<HostCall> m_calls;      // guarded by m_mutex
    std::vector<double> m_offsets;      // guarded by m_mutex
    std::vector<int> m_layerIds;        // guarded by m_mutex
    std::atomic<qint64> m_clockOffsetUs{0};
    std::atomic<int> m_masterLost{0};
};
