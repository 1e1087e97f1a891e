// SPDX-License-Identifier: MIT
// Whether a clock sample may move the slave's estimate of its master's clock. Once a line is fitted, a
// sample whose offset lies further from it than the rate bound, the fit's spread and the worst error of one
// exchange explain is held back: one such sample is a forged answer or a datagram that waited, and only
// kAgreeingSamples in a row that agree with each other (a step of the master's clock, a master started
// again) let the estimate jump to them.
#pragma once

#include "MultiNetControl.h"

#include <cstddef>
#include <vector>

namespace tamo::detail {

struct ClockSample
{
    qint64 hostUs;  // the slave's host clock at the moment the sample stands for
    double offsetUs;  // slave minus master
};

class OffsetJumpGate
{
public:
    // Never hold back less than this: an exchange the delay gate lets in (one-way delay below 800 us) can be
    // off by at most its delay, whichever way it waited, so no genuine sample is held back when nothing
    // jumped; and 1 ms is well below a frame (16.7 ms at 60 Hz), so what passes beneath it moves no picture.
    static constexpr double kFloorUs = 1000.0;
    // The fit's spread counts this many times its root mean square residual.
    static constexpr double kSpreadSigmas = 4.0;
    // Samples held back in a row that must agree before the estimate jumps: two could be one burst of
    // datagrams that waited together; three take 300 ms while clock sync starts and 9 s during playback.
    static constexpr std::size_t kAgreeingSamples = 3;

    enum class Verdict {
        Taken,     // the fit explains it, or there is no fit with a rate yet
        HeldBack,  // neither the fit nor the samples held back before it explain it
        Jump,      // the last of kAgreeingSamples that agree: the estimate starts afresh from heldBack()
    };

    // `fit` is the estimate before `sample`.
    Verdict judge(const ClockSample& sample, const NetControlNS::struClockEstimate& fit);
    // The samples held back in a row, oldest first; after Jump, the ones to start afresh from.
    const std::vector<ClockSample>& heldBack() const { return m_heldBack; }
    void clear() { m_heldBack.clear(); }

private:
    std::vector<ClockSample> m_heldBack;
};

} // namespace tamo::detail
