// SPDX-License-Identifier: MIT
#include "MissingPlugin.h"

#include <gst/pbutils/missing-plugins.h>

namespace {

// The Debian packages of the decoders and demuxers a player meets most, by the caps they take.
struct Provider
{
    const char* caps;
    const char* package;
};
constexpr Provider kProviders[] = {
    {"video/x-h264", "gstreamer1.0-libav"},     {"video/x-h265", "gstreamer1.0-libav"},
    {"video/mpeg", "gstreamer1.0-libav"},       {"video/x-vp8", "gstreamer1.0-plugins-good"},
    {"video/x-vp9", "gstreamer1.0-plugins-good"}, {"image/jpeg", "gstreamer1.0-plugins-good"},
    {"video/x-av1", "gstreamer1.0-plugins-bad"}, {"video/x-theora", "gstreamer1.0-plugins-base"},
    {"video/quicktime", "gstreamer1.0-plugins-good"}, {"video/x-matroska", "gstreamer1.0-plugins-good"},
    {"video/webm", "gstreamer1.0-plugins-good"}, {"video/x-msvideo", "gstreamer1.0-plugins-good"},
    {"application/ogg", "gstreamer1.0-plugins-base"},
};

QString takeString(gchar* text)
{
    const QString string = QString::fromUtf8(text ? text : "");
    g_free(text);
    return string;
}

} // namespace

std::optional<QString> MissingPlugin::describe(GstMessage* message)
{
    if (!gst_is_missing_plugin_message(message))
        return std::nullopt;
    const QString what = takeString(gst_missing_plugin_message_get_description(message));
    // "gstreamer|1.0|<application>|<description>|decoder-video/x-h264, profile=(string)high": the caps
    // are the last field, after the kind of element wanted.
    const QString detail = takeString(gst_missing_plugin_message_get_installer_detail(message));
    const QString caps = detail.section(QLatin1Char('|'), 4).section(QLatin1Char('-'), 1, -1).section(QLatin1Char(','), 0, 0);
    for (const Provider& provider : kProviders) {
        if (caps == QLatin1String(provider.caps))
            return QStringLiteral("no %1 here: %2 provides it").arg(what, QLatin1String(provider.package));
    }
    return QStringLiteral("no %1 here (GStreamer asks for %2)").arg(what, detail.section(QLatin1Char('|'), 4));
}
