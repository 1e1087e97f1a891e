// SPDX-License-Identifier: MIT
// The clock scenario's comparison: GStreamer's network clock on the same loopback addresses.
//   gst-provider --ip IP --port P: a GstNetTimeProvider serving the system clock (CLOCK_MONOTONIC)
//   gst-client   --ip IP --port P --duration-ms D --sample-ms S: on go, a GstNetClientClock that starts
//                at 0 and must find the provider's time; once synchronised, its error (client clock
//                minus the monotonic clock) is read every S ms for D ms
// Built without GStreamer, both roles fail with a line that says so (the driver does not start them).
#include "roles/Roles.h"

#include "support/BenchClock.h"
#include "support/ChildControl.h"

#ifdef TAMO_BENCH_HAVE_GST
#include <gst/gst.h>
#include <gst/net/net.h>
#endif

#include <stdexcept>
#include <vector>

#ifdef TAMO_BENCH_HAVE_GST

namespace {

constexpr std::int64_t kSyncTimeoutS = 10;

} // namespace

int runGstProviderRole(const Args& args)
{
    gst_init(nullptr, nullptr);
    ChildControl control(args.text("log"));
    GstClock* clock = gst_system_clock_obtain();
    GstNetTimeProvider* provider = gst_net_time_provider_new(clock, args.text("ip", "127.0.0.1").c_str(),
                                                             static_cast<gint>(args.number("port")));
    if (!provider)
        throw std::runtime_error("GstNetTimeProvider could not be made");
    control.start();
    control.waitForStop();
    gst_object_unref(provider);
    gst_object_unref(clock);
    control.send("done");
    return 0;
}

int runGstClientRole(const Args& args)
{
    gst_init(nullptr, nullptr);
    ChildControl control(args.text("log"));
    control.start();
    std::vector<std::int64_t> errorsNs;
    std::int64_t syncMs = -1;
    if (control.waitForGo()) {
        const std::int64_t startNs = monotonicNs();
        GstClock* clock = gst_net_client_clock_new("tamo-bench", args.text("ip", "127.0.0.1").c_str(),
                                                   static_cast<gint>(args.number("port")), 0);
        if (gst_clock_wait_for_sync(clock, static_cast<GstClockTime>(kSyncTimeoutS) * GST_SECOND)) {
            syncMs = (monotonicNs() - startNs) / 1000000;
            const std::int64_t periodNs = args.number("sample-ms", 100) * 1000000;
            const std::int64_t endNs = monotonicNs() + args.number("duration-ms") * 1000000;
            for (std::int64_t dueNs = monotonicNs(); dueNs < endNs && !control.stopRequested(); dueNs += periodNs) {
                sleepUntilNs(dueNs);
                errorsNs.push_back(static_cast<std::int64_t>(gst_clock_get_time(clock)) - monotonicNs());
            }
        }
        gst_object_unref(clock);
        control.send("actions-done");
    }
    control.waitForStop();
    control.send("synced " + std::to_string(syncMs));
    for (std::int64_t error : errorsNs)
        control.send("error " + std::to_string(error));
    control.send("done");
    return 0;
}

#else

int runGstProviderRole(const Args&)
{
    throw std::runtime_error("built without GStreamer (libgstreamer1.0-dev)");
}

int runGstClientRole(const Args&)
{
    throw std::runtime_error("built without GStreamer (libgstreamer1.0-dev)");
}

#endif
