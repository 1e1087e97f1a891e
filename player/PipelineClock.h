// SPDX-License-Identifier: MIT
// The clocks a player's pipeline runs on. With the library's clock synchronisation every pipeline runs on
// CLOCK_MONOTONIC itself, so a base time is a plain monotonic time. With GStreamer's network clock the
// master serves its host clock and the slaves follow it.
#pragma once

#include <QString>
#include <QtGlobal>

#include <gst/gst.h>
#include <gst/net/net.h>

namespace PipelineClock {

// CLOCK_MONOTONIC, moved by `offsetNs` (0: the monotonic clock unchanged). The caller owns the reference.
GstClock* monotonic(qint64 offsetNs);
// Serves `clock` on ip:port for GStreamer network clients; null, with `error` set, on failure.
GstNetTimeProvider* serve(GstClock* clock, const QString& ip, int port, QString& error);
// A clock that follows the one served on ip:port, once it has synchronised (null, with `error`, if it
// does not within 10 s).
GstClock* follow(const QString& ip, int port, QString& error);

} // namespace PipelineClock
