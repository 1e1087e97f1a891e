// SPDX-License-Identifier: MIT
// Keeps a clock on the master's time line: a linear calibration of the monotonic clock, as a GStreamer
// clock's calibration is, steered toward the library's estimate of the master's clock gradually, by a
// rate and never by a jump, the way a network client clock is calibrated. A player whose pipeline runs on
// such a clock shows each frame at the master's instant for as long as the programme plays, whatever the
// rates of the two PCs' oscillators.
#pragma once

#include "HostClock.h"

#include <QtGlobal>

// The master's clock as a line over this host's clock (what MultiNetControl::getClockEstimate() gives).
struct MasterLine
{
    qint64 atHostUs = 0;
    double offsetUs = 0;  // slave minus master at atHostUs
    double ratePpm = 0;   // how fast the offset grows
};

// external = externalNs + (internal - internalNs) * rate, internal being the monotonic clock in ns.
struct Calibration
{
    qint64 internalNs = 0;
    qint64 externalNs = 0;
    double rate = 1.0;

    qint64 externalAt(qint64 monoNs) const;
};

class ClockSteering
{
public:
    // An error is taken out over about this long, at a rate of at most kMaxCorrectionPpm beside the line's
    // own: 500 ppm moves a frame of 30 fps in a minute, which nobody sees.
    static constexpr double kCorrectionSeconds = 4.0;
    static constexpr double kMaxCorrectionPpm = 500.0;

    // `hostClock` says how this host's clock reads against the monotonic clock; it must outlive this.
    explicit ClockSteering(const HostClock& hostClock) : m_hostClock(hostClock) {}

    // The master's time, in ns, when the monotonic clock reads `monoNs`, according to `line`.
    double masterNsAt(const MasterLine& line, qint64 monoNs) const;
    // The steered clock minus the line at `monoNs`, in ns.
    double errorNs(const MasterLine& line, qint64 monoNs) const;
    // Puts the clock on the line at once: for before playback, when a jump shows nothing.
    const Calibration& jumpTo(const MasterLine& line, qint64 monoNs);
    // One step: from `monoNs` on, the clock runs at the line's rate plus a correction that takes the
    // present error out over kCorrectionSeconds; it reads on from where it stood, without a jump.
    const Calibration& steer(const MasterLine& line, qint64 monoNs);
    const Calibration& calibration() const { return m_calibration; }

private:
    // The line's master time per monotonic ns: this host's own rate times the master's rate against it.
    double lineRate(const MasterLine& line) const;

    const HostClock& m_hostClock;
    Calibration m_calibration;
};
