// SPDX-License-Identifier: MIT
// What GStreamer lacks to play a stream, from the message its pipeline posts before it fails (no decoder
// for the codec, say), and the Debian package that brings it: one line that a person can act on, where
// the error that follows only says that "a plug-in" is missing.
#pragma once

#include <QString>

#include <gst/gst.h>

#include <optional>

namespace MissingPlugin {

// "no H.264 (High Profile) decoder here: gstreamer1.0-libav provides it", for a missing-plugin message;
// nothing for any other message.
std::optional<QString> describe(GstMessage* message);

} // namespace MissingPlugin
