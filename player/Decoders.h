// SPDX-License-Identifier: MIT
// The video decoders a pipeline picks from. A hardware decoder (VA-API, V4L2 and the like: GStreamer marks
// them "Hardware") goes ahead of the software ones where the machine has one: GStreamer registers those
// only for a device that is there, and a pipeline that cannot open it goes on to the next decoder. playbin
// picks by rank, so raising theirs is all it takes, and every decoder of this kind is covered, known here
// by name or not.
#pragma once

#include <QString>

#include <gst/gst.h>

#include <optional>

namespace Decoders {

struct Decoder
{
    QString name;  // the element factory's, e.g. avdec_h264
    bool hardware = false;
};

// Ranks every hardware video decoder above the software ones, except those that GST_PLUGIN_FEATURE_RANK
// ranks: the user's word comes first.
void preferHardware();
// The decoder that `element` is, or nothing for any other element.
std::optional<Decoder> identify(GstElement* element);

} // namespace Decoders
