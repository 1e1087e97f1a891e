// SPDX-License-Identifier: MIT
#include "PipelineClock.h"

namespace {

constexpr GstClockTime kFollowTimeout = 10 * GST_SECOND;

} // namespace

GstClock* PipelineClock::monotonic(qint64 offsetNs)
{
    auto* clock = GST_CLOCK(g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr));
    gst_object_ref_sink(clock);
    if (offsetNs != 0) {
        // time = (internal - cinternal) + cexternal: one of the two carries the offset, both stay unsigned.
        const GstClockTime cinternal = offsetNs < 0 ? GstClockTime(-offsetNs) : 0;
        const GstClockTime cexternal = offsetNs > 0 ? GstClockTime(offsetNs) : 0;
        gst_clock_set_calibration(clock, cinternal, cexternal, 1, 1);
    }
    return clock;
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
