// SPDX-License-Identifier: MIT
#include "ClipMaker.h"

#include "FrameCode.h"

#include <gst/gst.h>

#include <cmath>

namespace {

constexpr GstClockTime kMakeTimeout = 120 * GST_SECOND;

// Numbers the frame about to pass the overlay: its number in pixels (FrameCode) on the frame, and in
// digits through the overlay.
GstPadProbeReturn numberFrame(GstPad* pad, GstPadProbeInfo* info, gpointer overlay)
{
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    const guint64 index = GST_BUFFER_OFFSET(buffer);
    GstVideoInfo videoInfo;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    GstVideoFrame frame;
    if (caps && gst_video_info_from_caps(&videoInfo, caps) &&
        gst_video_frame_map(&frame, &videoInfo, buffer, GST_MAP_WRITE)) {
        FrameCode::paint(frame, index);
        gst_video_frame_unmap(&frame);
    }
    if (caps)
        gst_caps_unref(caps);
    const QByteArray text = "frame " + QByteArray::number(qulonglong(index));
    g_object_set(overlay, "text", text.constData(), nullptr);
    return GST_PAD_PROBE_OK;
}

// The encoder and container that the file's suffix names.
QString encoding(const QString& path)
{
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    if (suffix == QLatin1String("ogg") || suffix == QLatin1String("ogv"))
        return QStringLiteral("theoraenc ! oggmux");
    if (suffix == QLatin1String("webm"))
        return QStringLiteral("vp8enc ! webmmux");
    return QStringLiteral("jpegenc ! avimux");
}

} // namespace

bool ClipMaker::make(const QString& path, double seconds, int fps, const QSize& size, QString& error)
{
    const int frames = std::max(1, int(std::lround(seconds * fps)));
    QString location = path;
    location.replace(QLatin1Char('"'), QLatin1String("\\\""));
    const QString description =
        QStringLiteral("videotestsrc num-buffers=%1 pattern=smpte ! video/x-raw,format=I420,width=%2,height=%3,framerate=%4/1 "
                       "! textoverlay name=number font-desc=\"Sans Bold 40\" valignment=center halignment=center "
                       "! %5 ! filesink location=\"%6\"")
            .arg(frames)
            .arg(size.width())
            .arg(size.height())
            .arg(fps)
            .arg(encoding(path), location);
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), &parseError);
    if (!pipeline || parseError) {
        error = QStringLiteral("cannot build the clip pipeline: %1").arg(QString::fromUtf8(parseError ? parseError->message : "?"));
        g_clear_error(&parseError);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    GstElement* overlay = gst_bin_get_by_name(GST_BIN(pipeline), "number");
    GstPad* pad = gst_element_get_static_pad(overlay, "video_sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, numberFrame, overlay, nullptr);
    gst_object_unref(pad);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message =
        gst_bus_timed_pop_filtered(bus, kMakeTimeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool made = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (!made) {
        GError* gerror = nullptr;
        if (message)
            gst_message_parse_error(message, &gerror, nullptr);
        error = QStringLiteral("cannot make the clip %1: %2").arg(path, QString::fromUtf8(gerror ? gerror->message : "timed out"));
        g_clear_error(&gerror);
    }
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(overlay);
    gst_object_unref(pipeline);
    return made;
}
