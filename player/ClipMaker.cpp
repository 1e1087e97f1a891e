// SPDX-License-Identifier: MIT
#include "ClipMaker.h"

#include "FrameCode.h"

#include <gst/gst.h>

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

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

// One element of an encoding, with its settings and the Debian package that brings it.
struct Stage
{
    const char* element;
    const char* settings;
    const char* package;
};

struct Encoding
{
    const char* suffixes;  // blank-separated; the first encoding of a suffix is its default
    const char* codec;     // what --codec calls it, if anything
    const char* name;
    std::vector<Stage> stages;  // the video's, the muxer last
    // The sound's way to the muxer, "" for PCM as it is; null where no sound is made.
    const char* soundEncoder;
    Stage soundStage;
};

constexpr char kAacEncoder[] = "audioconvert ! avenc_aac ! ";
constexpr Stage kAacStage{"avenc_aac", "", "gstreamer1.0-libav"};

// A key frame every second (at 30 fps) keeps an accurate seek's decoding from the key frame before short.
// No B-frames: mp4mux would start the time stamps of a stream that has them late by the frames they are
// reordered by, with no edit list to take that off, and frame n would no longer be the one at n / fps.
const std::vector<Encoding>& encodings()
{
    static const std::vector<Encoding> all{
        {"avi", "", "Motion JPEG", {{"jpegenc", "", "gstreamer1.0-plugins-good"}, {"avimux", "", "gstreamer1.0-plugins-good"}}, "", {}},
        {"ogg ogv", "", "Theora", {{"theoraenc", "", "gstreamer1.0-plugins-base"}, {"oggmux", "", "gstreamer1.0-plugins-base"}}, nullptr, {}},
        {"webm", "", "VP8", {{"vp8enc", "", "gstreamer1.0-plugins-good"}, {"webmmux", "", "gstreamer1.0-plugins-good"}}, nullptr, {}},
        {"mp4", "h264", "H.264",
         {{"x264enc", "key-int-max=30 bframes=0 speed-preset=veryfast", "gstreamer1.0-plugins-ugly"},
          {"mp4mux", "", "gstreamer1.0-plugins-good"}},
         kAacEncoder, kAacStage},
        {"mp4", "h265", "H.265",
         {{"x265enc", "key-int-max=30 speed-preset=veryfast option-string=bframes=0", "gstreamer1.0-plugins-bad"},
          {"h265parse", "", "gstreamer1.0-plugins-bad"},
          {"mp4mux", "", "gstreamer1.0-plugins-good"}},
         kAacEncoder, kAacStage},
    };
    return all;
}

QString suffixOf(const QString& path)
{
    return path.section(QLatin1Char('.'), -1).toLower();
}

// The encoding of `codec` for the file's suffix, its first when `codec` is empty; Motion JPEG in AVI for
// a suffix of no other.
const Encoding* encodingFor(const QString& path, const QString& codec)
{
    const QString suffix = suffixOf(path);
    for (const Encoding& encoding : encodings()) {
        const bool suffixFits = QString::fromLatin1(encoding.suffixes).split(QLatin1Char(' ')).contains(suffix);
        if (suffixFits && (codec.isEmpty() || codec == QLatin1String(encoding.codec)))
            return &encoding;
    }
    return codec.isEmpty() ? &encodings().front() : nullptr;
}

// The encoding's part of the pipeline; empty, with `error` naming what is missing and its package, when
// an element is not there.
bool isHere(const Encoding& encoding, const Stage& stage, QString& error)
{
    GstElementFactory* factory = gst_element_factory_find(stage.element);
    if (!factory) {
        error = QStringLiteral("cannot make a %1 clip: %2 is missing (%3 provides it)")
                    .arg(QLatin1String(encoding.name), QLatin1String(stage.element), QLatin1String(stage.package));
        return false;
    }
    gst_object_unref(factory);
    return true;
}

QString describe(const Encoding& encoding, QString& error)
{
    QStringList elements;
    for (const Stage& stage : encoding.stages) {
        if (!isHere(encoding, stage, error))
            return QString();
        elements.append(QStringLiteral("%1 %2").arg(QLatin1String(stage.element), QLatin1String(stage.settings)).trimmed());
    }
    return elements.join(QLatin1String(" ! "));
}

constexpr int kSamplesPerBuffer = ClipMaker::kSoundRate / 100;

// Shapes the sound: a tick of kTickPeriods periods of the tone from the start of every second, silence
// between, up to the clip's end (`end`, in samples), where the last buffer is cut: sound and frames end
// together, and a loop of the clip adds nothing to either. (audiotestsrc's own ticks end at each second.)
GstPadProbeReturn shapeSound(GstPad*, GstPadProbeInfo* info, gpointer end)
{
    constexpr guint64 tickSamples = guint64(ClipMaker::kSoundRate) * ClipMaker::kTickPeriods / ClipMaker::kTickHz;
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    const guint64 endSample = GPOINTER_TO_UINT(end);
    const guint64 first = GST_BUFFER_OFFSET(buffer);
    const guint64 count = std::min<guint64>(gst_buffer_get_size(buffer) / sizeof(gint16), endSample - std::min(first, endSample));
    gst_buffer_resize(buffer, 0, gssize(count * sizeof(gint16)));
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(count, GST_SECOND, ClipMaker::kSoundRate);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        auto* samples = reinterpret_cast<gint16*>(map.data);
        for (guint64 i = 0; i < count; ++i) {
            if ((first + i) % ClipMaker::kSoundRate >= tickSamples)
                samples[i] = 0;
        }
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

// The sound's branch of the clip's pipeline, into the muxer named "mux": a tick of kTickPeriods periods of
// kTickHz from the start of every second (shapeSound), `samples` long; empty, with `error`, where it cannot
// be made.
QString soundBranch(const Encoding& encoding, guint64 samples, QString& error)
{
    if (!encoding.soundEncoder) {
        error = QStringLiteral("cannot add sound to a %1 clip: --audio makes PCM in .avi and AAC in .mp4").arg(QLatin1String(encoding.name));
        return QString();
    }
    if (encoding.soundStage.element && !isHere(encoding, encoding.soundStage, error))
        return QString();
    return QStringLiteral(" audiotestsrc name=sound freq=%1 volume=0.8 samplesperbuffer=%2 "
                          "num-buffers=%3 ! audio/x-raw,format=S16LE,rate=%4,channels=1 ! %5mux.")
        .arg(ClipMaker::kTickHz)
        .arg(kSamplesPerBuffer)
        .arg((samples + kSamplesPerBuffer - 1) / kSamplesPerBuffer)
        .arg(ClipMaker::kSoundRate)
        .arg(QLatin1String(encoding.soundEncoder));
}

} // namespace

bool ClipMaker::acceptsCodec(const QString& path, const QString& codec, QString& error)
{
    if (encodingFor(path, codec))
        return true;
    QStringList codecs;
    for (const Encoding& encoding : encodings()) {
        if (*encoding.codec)
            codecs.append(QLatin1String(encoding.codec));
    }
    error = codecs.contains(codec) ? QStringLiteral("--codec %1 is for an .mp4 clip, not .%2").arg(codec, suffixOf(path))
                                   : QStringLiteral("--codec takes %1, got '%2'").arg(codecs.join(QLatin1String(" or ")), codec);
    return false;
}

bool ClipMaker::make(const QString& path, double seconds, int fps, const QSize& size, QString& error, const QString& codec,
                     bool sound)
{
    const Encoding* encoding = encodingFor(path, codec);
    if (!encoding)
        return acceptsCodec(path, codec, error);
    const QString encoder = describe(*encoding, error);
    if (encoder.isEmpty())
        return false;
    const int frames = std::max(1, int(std::lround(seconds * fps)));
    const guint64 soundSamples = guint64(frames) * kSoundRate / guint64(fps);
    const QString soundPart = sound ? soundBranch(*encoding, soundSamples, error) : QString();
    if (sound && soundPart.isEmpty())
        return false;
    QString location = path;
    location.replace(QLatin1Char('"'), QLatin1String("\\\""));
    const QString description =
        QStringLiteral("videotestsrc num-buffers=%1 pattern=smpte ! video/x-raw,format=I420,width=%2,height=%3,framerate=%4/1 "
                       "! textoverlay name=number font-desc=\"Sans Bold 40\" valignment=center halignment=center "
                       "! %5 name=mux ! filesink location=\"%6\"%7")
            .arg(frames)
            .arg(size.width())
            .arg(size.height())
            .arg(fps)
            .arg(encoder, location, soundPart);
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
    if (GstElement* tick = gst_bin_get_by_name(GST_BIN(pipeline), "sound")) {
        GstPad* soundPad = gst_element_get_static_pad(tick, "src");
        gst_pad_add_probe(soundPad, GST_PAD_PROBE_TYPE_BUFFER, shapeSound, GUINT_TO_POINTER(guint(soundSamples)), nullptr);
        gst_object_unref(soundPad);
        gst_object_unref(tick);
    }

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
