// SPDX-License-Identifier: MIT
// The clocks a player's pipeline runs on: GstSystemClocks on CLOCK_MONOTONIC, calibrated to read either
// this host's clock (its offset, and its simulated drift) or the master's time line as the library
// estimates it (steered by ClockSteering). With GStreamer's network clock the master serves its host
// clock and the slaves follow it.
#pragma once

#include "ClockSteering.h"
#include "HostClock.h"

#include <QString>
#include <QtGlobal>

#include <gst/gst.h>
#include <gst/net/net.h>

namespace PipelineClock {

// A clock that reads as `hostClock` does, in ns. The caller owns the reference.
GstClock* ofHost(const HostClock& hostClock);
// A clock to be steered with apply(); it reads the monotonic clock until then. The caller owns the reference.
GstClock* steerable();
// From now on `clock` reads as `calibration` says, without a jump when the calibration continues the last.
void apply(GstClock* clock, const Calibration& calibration);
// Serves `clock` on ip:port for GStreamer network clients; null, with `error` set, on failure.
GstNetTimeProvider* serve(GstClock* clock, const QString& ip, int port, QString& error);
// A clock that follows the one served on ip:port, once it has synchronised (null, with `error`, if it
// does not within 10 s).
GstClock* follow(const QString& ip, int port, QString& error);

} // namespace PipelineClock
