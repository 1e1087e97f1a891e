// SPDX-License-Identifier: MIT
// The clock a slave's pipeline runs on, and how the master's instants are read on it.
//
// - Following the master's time line (the default): the pipeline's clock reads the master's time, as the
//   library estimates it (MultiNetControl::getClockEstimate), steered toward each new estimate gradually
//   (ClockSteering), so that every frame stays at the master's instant however far the two PCs' clocks
//   drift apart. An instant of the master's clock is a time of the pipeline's clock as it is.
// - On this host's clock (--no-rate-correction, the control run): instants are converted once, with the
//   latest mean offset (clockOffsetCbk); a clock that drifts then takes the frames along with it.
// - GStreamer's network clock (--net-clock): the pipeline follows the master's clock served by GStreamer.
#pragma once

#include "ClockSteering.h"
#include "HostClock.h"
#include "PlayerOptions.h"

#include <MultiNetControl.h>

#include <QObject>
#include <QTimer>

#include <gst/gst.h>

#include <atomic>
#include <functional>

class SlaveClock
{
public:
    // A jump beyond this, while nothing plays, is taken at once; while a programme plays the clock is
    // only ever steered.
    static constexpr qint64 kJumpWhenIdleAboveNs = 1000000;
    static constexpr int kSteerEveryMs = 500;

    // `estimate` reads the library's estimate of the master's clock; `playing` says whether frames are shown.
    SlaveClock(const PlayerOptions& options, const HostClock& hostClock,
               std::function<NetControlNS::struClockEstimate()> estimate, std::function<bool()> playing);
    ~SlaveClock();

    SlaveClock(const SlaveClock&) = delete;
    SlaveClock& operator=(const SlaveClock&) = delete;

    // The clock for a new pipeline (a reference of the caller's); null, with `error`, when there is none.
    GstClock* makePipelineClock(QString& error);
    // An instant of the master's host clock (microseconds) as a time of the pipeline's clock.
    qint64 toClockNs(double masterHostUs) const;
    // The latest mean offset, slave minus master, from clockOffsetCbk. Any thread.
    void setMeanOffsetUs(qint64 us) { m_meanOffsetUs = us; }
    // How long a wait of `ns` of the pipeline's clock takes in real time.
    qint64 toRealNs(qint64 ns) const;
    // The steered clock minus the master's time line as estimated now, in ns (0 when not steering).
    qint64 errorNs() const;
    // Before a command that puts the pipeline on another time line anyway (its frames jump): a clock far
    // off the estimate jumps onto it first, rather than being steered there over minutes.
    void settleBeforeRepositioning();

private:
    void steer();
    void jumpOnto(const MasterLine& line, qint64 monoNs, double errorNs);

    const PlayerOptions& m_options;
    const HostClock& m_hostClock;
    const std::function<NetControlNS::struClockEstimate()> m_estimate;
    const std::function<bool()> m_playing;
    ClockSteering m_steering;                 // main thread only
    GstClock* m_steered = nullptr;            // main thread only; the steered clock, while following
    bool m_onLine = false;                    // main thread only: put on an estimate at least once
    std::atomic<qint64> m_meanOffsetUs{0};    // written by the library's worker, read by the main thread
    QTimer m_steerTimer;
};
