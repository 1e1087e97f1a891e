// SPDX-License-Identifier: MIT
#include "PipelineClock.h"

#include <cmath>

namespace {

constexpr GstClockTime kFollowTimeout = 10 * GST_SECOND;

} // namespace

GstClock* PipelineClock::steerable()
{
    auto* clock = GST_CLOCK(g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr));
    gst_object_ref_sink(clock);
    return clock;
}

GstClock* PipelineClock::ofHost(const HostClock& hostClock)
{
    GstClock* clock = steerable();
    const qint64 anchorNs = hostClock.anchorMonotonicUs() * 1000;
    apply(clock, Calibration{anchorNs, anchorNs + hostClock.offsetUs() * 1000, 1.0 + hostClock.driftPpm() * 1e-6});
    return clock;
}

void PipelineClock::apply(GstClock* clock, const Calibration& calibration)
{
    // external = (internal - cinternal) * num / denom + cexternal, all unsigned: both anchors are times of
    // CLOCK_MONOTONIC or of a clock near it, far above zero.
    const GstClockTime denom = GST_SECOND;
    const auto num = GstClockTime(std::llround(calibration.rate * double(denom)));
    gst_clock_set_calibration(clock, GstClockTime(calibration.internalNs), GstClockTime(calibration.externalNs), num, denom);
}

GstNetTimeProvider* PipelineClock::serve(GstClock* clock, const QString& ip, int port, QString& error)
{
    GstNetTimeProvider* provider = gst_net_time_provider_new(clock, ip.toUtf8().constData(), port);
    if (!provider)
        error = QStringLiteral("cannot serve the network clock on %1:%2").arg(ip).arg(port);
    return provider;
}

GstClock* PipelineClock::follow(const QString& ip, int port, QString& error)
{
    GstClock* clock = gst_net_client_clock_new("multinet-player", ip.toUtf8().constData(), port, 0);
    if (!clock) {
        error = QStringLiteral("cannot make a network clock client for %1:%2").arg(ip).arg(port);
        return nullptr;
    }
    if (!gst_clock_wait_for_sync(clock, kFollowTimeout)) {
        error = QStringLiteral("the network clock on %1:%2 did not synchronise within 10 s").arg(ip).arg(port);
        gst_object_unref(clock);
        return nullptr;
    }
    return clock;
}
