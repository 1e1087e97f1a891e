// SPDX-License-Identifier: MIT
#include "SlaveClock.h"

#include "EventLine.h"
#include "PipelineClock.h"

#include <cmath>
#include <cstdlib>

namespace {

MasterLine lineOf(const NetControlNS::struClockEstimate& estimate)
{
    return MasterLine{estimate.atHostUs, estimate.offsetUs, estimate.ratePpm};
}

} // namespace

SlaveClock::SlaveClock(const PlayerOptions& options, const HostClock& hostClock,
                       std::function<NetControlNS::struClockEstimate()> estimate, std::function<bool()> playing)
    : m_options(options),
      m_hostClock(hostClock),
      m_estimate(std::move(estimate)),
      m_playing(std::move(playing)),
      m_steering(hostClock)
{
    m_steerTimer.setInterval(kSteerEveryMs);
    QObject::connect(&m_steerTimer, &QTimer::timeout, [this] { steer(); });
}

SlaveClock::~SlaveClock()
{
    if (m_steered)
        gst_object_unref(m_steered);
}

GstClock* SlaveClock::makePipelineClock(QString& error)
{
    if (m_options.clock == SyncClock::GstNet)
        return PipelineClock::follow(m_options.masterIp, m_options.netClockPort, error);
    if (!m_options.rateCorrection)
        return PipelineClock::ofHost(m_hostClock);
    if (!m_steered) {
        m_steered = PipelineClock::steerable();
        // Until the first estimate the master's time is taken as this host's: a jump puts it right then.
        PipelineClock::apply(m_steered, m_steering.jumpTo(MasterLine{m_hostClock.nowUs(), 0, 0}, HostClock::monotonicUs() * 1000));
        m_steerTimer.start();
    }
    steer();
    return GST_CLOCK(gst_object_ref(m_steered));
}

qint64 SlaveClock::toClockNs(double masterHostUs) const
{
    // Following the master's time line, or GStreamer's network clock, the pipeline reads the master's time.
    if (m_options.clock == SyncClock::GstNet || m_options.rateCorrection)
        return std::llround(masterHostUs * 1000.0);
    const qint64 offsetUs = m_options.ignoreOffset ? 0 : m_meanOffsetUs.load();
    return std::llround((masterHostUs + double(offsetUs)) * 1000.0);
}

qint64 SlaveClock::toRealNs(qint64 ns) const
{
    return m_hostClock.toRealUs(ns / 1000) * 1000;
}

qint64 SlaveClock::errorNs() const
{
    const NetControlNS::struClockEstimate estimate = m_estimate();
    if (!m_steered || !estimate.valid)
        return 0;
    return std::llround(m_steering.errorNs(lineOf(estimate), HostClock::monotonicUs() * 1000));
}

void SlaveClock::steer()
{
    const NetControlNS::struClockEstimate estimate = m_estimate();
    if (!m_steered || !estimate.valid)
        return;
    const qint64 monoNs = HostClock::monotonicUs() * 1000;
    const MasterLine line = lineOf(estimate);
    const double error = m_steering.errorNs(line, monoNs);
    // Nothing is shown while no programme plays: the clock may jump onto the line then.
    if (!m_onLine || (!m_playing() && std::abs(error) > kJumpWhenIdleAboveNs)) {
        jumpOnto(line, monoNs, error);
        return;
    }
    PipelineClock::apply(m_steered, m_steering.steer(line, monoNs));
}

void SlaveClock::settleBeforeRepositioning()
{
    const NetControlNS::struClockEstimate estimate = m_estimate();
    if (!m_steered || !estimate.valid)
        return;
    const qint64 monoNs = HostClock::monotonicUs() * 1000;
    const double error = m_steering.errorNs(lineOf(estimate), monoNs);
    if (std::abs(error) > kJumpWhenIdleAboveNs)
        jumpOnto(lineOf(estimate), monoNs, error);
}

void SlaveClock::jumpOnto(const MasterLine& line, qint64 monoNs, double errorNs)
{
    PipelineClock::apply(m_steered, m_steering.jumpTo(line, monoNs));
    EventLine(QStringLiteral("clock-jump")).add(QStringLiteral("us"), qint64(std::llround(-errorNs / 1000))).print();
    m_onLine = true;
}
