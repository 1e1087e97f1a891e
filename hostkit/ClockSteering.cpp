// SPDX-License-Identifier: MIT
#include "ClockSteering.h"

#include <algorithm>
#include <cmath>

qint64 Calibration::externalAt(qint64 monoNs) const
{
    return externalNs + std::llround(double(monoNs - internalNs) * rate);
}

double ClockSteering::masterNsAt(const MasterLine& line, qint64 monoNs) const
{
    const double monoUs = double(monoNs) / 1000.0;
    const double hostUs = monoUs + double(m_hostClock.offsetUs())
                          + (monoUs - double(m_hostClock.anchorMonotonicUs())) * m_hostClock.driftPpm() * 1e-6;
    const double offsetUs = line.offsetUs + line.ratePpm * 1e-6 * (hostUs - double(line.atHostUs));
    return (hostUs - offsetUs) * 1000.0;
}

double ClockSteering::errorNs(const MasterLine& line, qint64 monoNs) const
{
    return double(m_calibration.externalAt(monoNs)) - masterNsAt(line, monoNs);
}

double ClockSteering::lineRate(const MasterLine& line) const
{
    return (1.0 + m_hostClock.driftPpm() * 1e-6) * (1.0 - line.ratePpm * 1e-6);
}

const Calibration& ClockSteering::jumpTo(const MasterLine& line, qint64 monoNs)
{
    m_calibration = Calibration{monoNs, std::llround(masterNsAt(line, monoNs)), lineRate(line)};
    return m_calibration;
}

const Calibration& ClockSteering::steer(const MasterLine& line, qint64 monoNs)
{
    const double correction = std::clamp(-errorNs(line, monoNs) / (kCorrectionSeconds * 1e9), -kMaxCorrectionPpm * 1e-6,
                                         kMaxCorrectionPpm * 1e-6);
    m_calibration = Calibration{monoNs, m_calibration.externalAt(monoNs), lineRate(line) + correction};
    return m_calibration;
}
