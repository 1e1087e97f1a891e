// SPDX-License-Identifier: MIT
// A slave's clock samples: the last delay and offset, the sliding mean of ten that the host is handed,
// and the estimate of the master's clock as a line. Written by the worker only; the estimate is copied
// out under a lock for the host's threads.
#pragma once

#include "MultiNetControl.h"
#include "slave/ClockEstimator.h"
#include "wire/Payloads.h"

#include <deque>
#include <functional>
#include <optional>
#include <mutex>
#include <vector>

namespace tamo::detail {

class ClockSamples
{
public:
    // Requests whose answers are taken; older ones are forgotten beyond.
    static constexpr std::size_t kMaxPending = 32;
    // A sample whose delay is below this is no exchange that happened, and stays out of the estimate.
    static constexpr qint64 kLeastDelayUs = -50;
    // The host clock stepping back by more than this starts the estimate afresh.
    static constexpr qint64 kStepBackUs = 1000;

    // What one clock answer came to.
    struct Taken
    {
        bool answersARequest = true;  // false: no request of this slave left with its departure stamp
        bool accepted = false;        // false also while the estimate holds it back as a jump (OffsetJumpGate)
        double meanSeconds = 0;       // the sliding mean, when accepted
        bool reportReady = false;     // the clock-ready report is due (first accepted sample since a stop)
    };

    // Sends a request with `send`, which answers the host time it left at (its slot 2), or nothing when it
    // did not leave. The answer may come back before `send` returns: the worker waits for it to be noted.
    // The timer thread.
    void sendRequest(const std::function<std::optional<qint64>()>& send);
    // One exchange's four stamps; taken only when they answer a request still waiting. Prints the delay's
    // warning line when the sample is discarded. Worker thread.
    Taken take(const ClockSyncStamps& stamps);
    // After a stop command: the next accepted sample reports the clock ready again. Worker thread.
    void reportReadyAgain() { m_clockPreparedSent = false; }
    // The master's program started again: its clock may be another one. Worker thread.
    void startAfresh();
    // Any thread.
    NetControlNS::struClockEstimate estimate() const;

private:
    void publishEstimate();

    qint64 m_netDelayDelt = 0;            // worker thread only
    qint64 m_clockOffset = 0;             // worker thread only
    std::vector<double> m_offsetSamples;  // worker thread only
    int m_offsetIndex = 0;                // worker thread only
    double m_offsetSum = 0;               // worker thread only
    double m_offsetMean = 0;              // worker thread only
    bool m_clockSynced = false;           // worker thread only
    bool m_clockPreparedSent = false;     // worker thread only
    ClockEstimator m_clockEstimator;      // worker thread only
    qint64 m_lastReceiptUs = 0;           // worker thread only; the latest answer's arrival (slot 3)
    std::mutex m_pendingMutex;            // m_pending, held across a request's send: the timer thread adds, the worker takes
    std::deque<qint64> m_pending;         // departures of requests not answered yet, oldest first
    mutable std::mutex m_clockEstimateMutex;      // m_clockEstimate: the worker writes, any host thread reads
    NetControlNS::struClockEstimate m_clockEstimate;  // guarded by m_clockEstimateMutex
};

} // namespace tamo::detail
