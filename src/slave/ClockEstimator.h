// SPDX-License-Identifier: MIT
// The slave's estimate of its master's clock as a straight line over its own host clock: the offset now
// and the rate at which it changes. Unlike the mean of the last ten samples, which lags a drifting clock
// by half its span, a line fitted over two minutes of samples follows the drift and averages the noise.
//
// The fit is a least-squares line through the accepted samples of the window; samples whose residual is
// far beyond the others' spread (a datagram that waited in a queue on one way only) are left out and the
// line is fitted again. A sample far off a fitted line is held back until further ones agree with it
// (OffsetJumpGate): one forged answer cannot move the line, a step of the master's clock is followed.
#pragma once

#include "MultiNetControl.h"
#include "slave/OffsetJumpGate.h"

#include <deque>

namespace tamo::detail {

class ClockEstimator
{
public:
    // Samples older than this, on the host clock, before the newest leave the fit: long enough to
    // average the noise of samples 3 s apart, short enough to follow a machine that warms up.
    static constexpr qint64 kWindowUs = 120000000;
    // At most this many samples are kept: the last 30 s while clock sync starts with ten a second, which
    // average the noise as well as two minutes would, at a quarter of the cost of a fit.
    static constexpr std::size_t kMaxSamples = 300;
    // A rate is fitted once this many samples span at least kMinRateSpanUs; before, the offset is the
    // median of the samples and the rate 0.
    static constexpr int kMinRateSamples = 6;
    static constexpr qint64 kMinRateSpanUs = 1000000;
    // The request's departure comes back in the master's answer, so it may be anything: one that lies
    // after the arrival, or longer than this before it, leaves the sample at its arrival.
    static constexpr qint64 kMaxRoundTripUs = kWindowUs;
    // The rate is bounded to this (ppm): well beyond any PC's oscillator and the 2000 ppm tests drift by.
    static constexpr double kMaxRatePpm = 5000.0;

    // One accepted sample: the offset (slave minus master) measured by the exchange whose request left at
    // `sentUs` and whose answer arrived at `receivedUs`, both on the slave's host clock. It stands for the
    // moment midway, or for `receivedUs` when `sentUs` is no departure of this exchange (kMaxRoundTripUs).
    // A sample the jump gate holds back leaves the estimate as it was; at Jump the window holds only the
    // agreeing samples held back.
    OffsetJumpGate::Verdict add(qint64 sentUs, qint64 receivedUs, qint64 offsetUs);
    // Forgets every sample: the master's clock is another one from now on.
    void reset();
    const NetControlNS::struClockEstimate& estimate() const { return m_estimate; }

private:
    void refit();

    std::deque<ClockSample> m_samples;  // oldest first
    OffsetJumpGate m_jumpGate;
    NetControlNS::struClockEstimate m_estimate;
};

} // namespace tamo::detail
