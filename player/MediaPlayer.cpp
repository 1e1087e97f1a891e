// SPDX-License-Identifier: MIT
#include "MediaPlayer.h"

#include "AudioOutput.h"
#include "EventLine.h"
#include "MissingPlugin.h"
#include "WindowSink.h"

#include <QDir>

#include <gst/video/video.h>
#include <gst/video/videooverlay.h>

#include <algorithm>
#include <cmath>
#include <thread>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

namespace {

constexpr GstClockTime kPrerollTimeout = 10 * GST_SECOND;
constexpr GstClockTime kErrorMessageTimeout = GST_SECOND;
constexpr int kPresentationPriority = 10;
constexpr qint64 kEarlyWakeNs = 300000;
// playbin's flags: GST_PLAY_FLAG_VIDEO, and GST_PLAY_FLAG_AUDIO with sound.
constexpr int kPlayVideo = 1;
constexpr int kPlayAudio = 2;
// Stretches kept for pointAt: the sink is given a new one at each item and each seek.
constexpr std::size_t kKeptStretches = 16;

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// The bin that playbin shows the video through, with the sink pad of its first element, named "in", as
// its own. Not the parser's ghosting of unlinked pads: it takes the first one it finds, which in a window
// is textoverlay's text pad (the label is a property, so that pad stays unlinked), and playbin, offered
// a sink that takes text, finds no video decoder compatible with it.
GstElement* makeSinkBin(const QString& description, GError** error)
{
    GstElement* bin = gst_parse_bin_from_description(description.toUtf8().constData(), FALSE, error);
    if (!bin)
        return nullptr;
    GstElement* first = gst_bin_get_by_name(GST_BIN(bin), "in");
    GstPad* pad = gst_element_get_static_pad(first, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    gst_object_unref(first);
    return bin;
}

QString errorText(GstMessage* message)
{
    GError* gerror = nullptr;
    gst_message_parse_error(message, &gerror, nullptr);
    const QString text = QString::fromUtf8(gerror ? gerror->message : "unknown error");
    g_clear_error(&gerror);
    return text;
}

} // namespace

MediaPlayer::MediaPlayer(FrameLog& log) : m_log(log) {}

MediaPlayer::~MediaPlayer()
{
    halt();
}

void MediaPlayer::setHandlers(std::function<void()> onEnd, std::function<void(const QString&)> onError)
{
    m_onEnd = std::move(onEnd);
    m_onError = std::move(onError);
}

bool MediaPlayer::open(const Programme& programme, GstClock* clock, const VideoOutput& output, const QString& label,
                       QString& error)
{
    if (!halt()) {
        error = QStringLiteral("the previous pipeline did not stop");
        return false;
    }
    if (programme.isEmpty()) {
        error = QStringLiteral("nothing to play");
        return false;
    }
    m_programme = programme;
    m_onScreen = output.kind != VideoOutput::Headless;
    m_grids.clear();
    m_durations.clear();
    m_missingPlugin.reset();
    {
        std::lock_guard<std::mutex> lock(m_decoderMutex);
        m_decoder = Decoders::Decoder();
    }
    m_decoderTold.clear();
    m_soundTold.clear();
    if (!buildPipeline(output, label, error)) {
        halt();
        return false;
    }
    m_clock = GST_CLOCK(gst_object_ref(clock));
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), m_clock);
    // The base time is ours to set: the pipeline must not choose one when it goes to playing.
    gst_element_set_start_time(m_pipeline, GST_CLOCK_TIME_NONE);
    g_object_set(m_pipeline, "uri", programme.uriOfPlay(0).toUtf8().constData(), nullptr);
    m_pendingPlay = 0;
    m_streamPlay = 0;
    m_streamGroup = 0;
    m_nextPlay = 1;
    m_holdKey = Programme::frameKey(0, 0);
    if (!changeState(GST_STATE_PAUSED, error) || !waitForPreroll(error)) {
        halt();
        return false;
    }
    noteCurrentItem();
    announceDecoder();
    announceSound();
    m_busWatch = std::make_unique<BusWatch>(m_pipeline, [this](GstMessage* message) { onBusMessage(message); });
    return true;
}

bool MediaPlayer::buildPipeline(const VideoOutput& output, const QString& label, QString& error)
{
    const bool onX = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool window = output.kind == VideoOutput::Window;
    const bool fullScreen = output.kind == VideoOutput::FullScreen;
    if ((window || (fullScreen && onX)) && !WindowSink::registerElement()) {
        error = QStringLiteral("cannot build the pipeline: ximagesink is missing for a window");
        return false;
    }
    if (fullScreen && !onX && !WindowSink::registerConsoleElement()) {
        error = QStringLiteral("cannot build the pipeline: full screen without a display server needs kmssink, which "
                               "gstreamer1.0-plugins-bad provides");
        return false;
    }
    Decoders::preferHardware();
    // The queue lets the frames be decoded ahead, so that the sink's thread only wakes to show them: four
    // players waking at one instant then do not wait for each other's decoding. Full screen, the frames are
    // scaled to the output's size here, with borders that keep their shape: neither sink scales them.
    const QString queue = QStringLiteral("queue max-size-buffers=4");
    QString description;
    if (window) {
        description = QStringLiteral("videoconvert name=in ! textoverlay text=%1 valignment=top halignment=left "
                                     "shaded-background=true font-desc=\"Sans Bold 14\" ! videoconvert ! %2 ! "
                                     "%3 name=sink")
                          .arg(quoted(label), queue, QLatin1String(WindowSink::kElement));
    } else if (fullScreen) {
        description = QStringLiteral("videoscale name=in ! capsfilter name=size ! videoconvert ! %1 ! %2 name=sink")
                          .arg(queue, QLatin1String(onX ? WindowSink::kElement : WindowSink::kConsoleElement));
    } else {
        description = QStringLiteral("%1 name=in ! fakesink name=sink sync=true signal-handoffs=true").arg(queue);
    }
    GError* parseError = nullptr;
    GstElement* sinkBin = makeSinkBin(description, &parseError);
    m_pipeline = gst_element_factory_make("playbin", nullptr);
    if (!sinkBin || parseError || !m_pipeline) {
        error = QStringLiteral("cannot build the pipeline: %1")
                    .arg(QString::fromUtf8(parseError ? parseError->message : "playbin is missing"));
        g_clear_error(&parseError);
        if (sinkBin)
            gst_object_unref(sinkBin);
        if (m_pipeline)
            gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
        return false;
    }
    m_sink = gst_bin_get_by_name(GST_BIN(sinkBin), "sink");
    g_object_set(m_pipeline, "video-sink", sinkBin, "flags", kPlayVideo, nullptr);
    chooseAudio();
    g_signal_connect(m_pipeline, "about-to-finish", G_CALLBACK(&MediaPlayer::onAboutToFinish), this);
    g_signal_connect(m_pipeline, "element-setup", G_CALLBACK(&MediaPlayer::onElementSetup), this);
    GstPad* pad = gst_element_get_static_pad(m_sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &MediaPlayer::onSinkPadEvent, this, nullptr);
    gst_object_unref(pad);
    // Every sink hands off each frame as it shows it, a screen's once it is on the screen.
    g_signal_connect(m_sink, "handoff", G_CALLBACK(&MediaPlayer::onHandoff), this);
    g_signal_connect(m_sink, "preroll-handoff", G_CALLBACK(&MediaPlayer::onPrerollHandoff), this);
    return !fullScreen || fillScreen(sinkBin, output, label, error);
}

bool MediaPlayer::fillScreen(GstElement* sinkBin, const VideoOutput& output, const QString& label, QString& error)
{
    QSize size;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        if (!openConsole(sinkBin, output.output, size, error))
            return false;
    } else {
        m_screenWindow = FullScreenWindow::open(output.output, label, error);
        if (!m_screenWindow)
            return false;
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(m_sink), m_screenWindow->handle());
        size = m_screenWindow->output().geometry.size();
    }
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT,
                                        size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    GstElement* sizeFilter = gst_bin_get_by_name(GST_BIN(sinkBin), "size");
    g_object_set(sizeFilter, "caps", caps, nullptr);
    gst_object_unref(sizeFilter);
    gst_caps_unref(caps);
    return true;
}

bool MediaPlayer::openConsole(GstElement* sinkBin, const QString& connector, QSize& size, QString& error)
{
    if (!connector.isEmpty()) {
        bool isNumber = false;
        const int id = connector.toInt(&isNumber);
        if (!isNumber || id < 0) {
            error = QStringLiteral("on the console --output takes a DRM connector's id (a number), got '%1'")
                        .arg(connector);
            return false;
        }
        g_object_set(m_sink, "connector-id", id, nullptr);
    }
    // kmssink opens the device on its way to READY, and knows the display's size from then on. The sink
    // bin is no pipeline's yet: a bus of its own here catches why it could not.
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(sinkBin, bus);
    const bool opened = gst_element_set_state(m_sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    if (!opened) {
        GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        const bool noDevice =
            QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("card*")}, QDir::System).isEmpty();
        error = QStringLiteral("cannot show frames on the console: %1%2")
                    .arg(message ? errorText(message) : QStringLiteral("kmssink cannot open its display"),
                         noDevice ? QStringLiteral(" (there is no DRM device, /dev/dri/card*, here)") : QString());
        if (message)
            gst_message_unref(message);
        gst_element_set_state(m_sink, GST_STATE_NULL);
    }
    gst_element_set_bus(sinkBin, nullptr);
    gst_object_unref(bus);
    if (!opened)
        return false;
    int width = 0;
    int height = 0;
    g_object_get(m_sink, "display-width", &width, "display-height", &height, nullptr);
    size = QSize(width, height);
    return true;
}

bool MediaPlayer::playFrom(ProgrammePoint point, double rate, qint64 baseTimeNs, QString& error)
{
    if (!m_pipeline) {
        error = QStringLiteral("nothing is prepared");
        return false;
    }
    if (!goTo(point, rate, false, error))
        return false;
    // After the flushing seek the frame at the point has running time 0: it is shown at the base time.
    gst_element_set_base_time(m_pipeline, GstClockTime(baseTimeNs));
    return changeState(GST_STATE_PLAYING, error);
}

bool MediaPlayer::holdFrame(ProgrammePoint point, QString& error)
{
    if (!m_pipeline) {
        error = QStringLiteral("nothing is prepared");
        return false;
    }
    return goTo(point, 1.0, true, error);
}

bool MediaPlayer::goTo(ProgrammePoint point, double rate, bool show, QString& error)
{
    const QString uri = m_programme.uriOfPlay(point.play);
    if (uri.isEmpty()) {
        error = QStringLiteral("play %1 lies past the end of the programme").arg(point.play);
        return false;
    }
    m_holdKey = -1;
    const bool otherItem = m_programme.itemOfPlay(point.play) != m_programme.itemOfPlay(m_streamPlay);
    if (otherItem) {
        // Another item: load it, which is a new stream, and the sink counts its play from there.
        if (!changeState(GST_STATE_READY, error))
            return false;
        g_object_set(m_pipeline, "uri", uri.toUtf8().constData(), nullptr);
        m_pendingPlay = point.play;
    }
    if (!pauseUnseen(error))
        return false;
    // The same item, maybe in another round: its stream stays, and the sink's count goes on from here.
    if (!otherItem)
        m_streamPlay = point.play;
    m_nextPlay = point.play + 1;
    {
        std::lock_guard<std::mutex> lock(m_stretchMutex);
        m_stretches.clear();
    }
    if (show) {
        if (m_onScreen)
            g_object_set(m_sink, "show-preroll-frame", TRUE, nullptr);
        m_holdKey = Programme::frameKey(point.play, point.positionNs);
    }
    if (!seekPaused(point, rate, error))
        return false;
    noteCurrentItem();
    return true;
}

std::optional<ProgrammePoint> MediaPlayer::pointAt(qint64 clockNs) const
{
    if (!m_pipeline)
        return std::nullopt;
    const qint64 runningTime = clockNs - qint64(gst_element_get_base_time(m_pipeline));
    std::lock_guard<std::mutex> lock(m_stretchMutex);
    for (auto it = m_stretches.rbegin(); it != m_stretches.rend(); ++it) {
        if (it->startRt > runningTime)
            continue;
        ProgrammePoint point{it->play, it->startPts + std::llround(double(runningTime - it->startRt) * it->rate)};
        // Past the end of its item: in the next play, when the length is known.
        const qint64 duration = itemDurationNs(m_programme.itemOfPlay(point.play));
        if (duration <= 0)
            return point;
        if (point.positionNs < duration)
            return point;
        if (m_programme.itemOfPlay(point.play + 1) < 0)
            return std::nullopt;
        const qint64 next = itemDurationNs(m_programme.itemOfPlay(point.play + 1));
        point = ProgrammePoint{point.play + 1, point.positionNs - duration};
        if (next > 0 && point.positionNs < next)
            return point;
        return std::nullopt;
    }
    return std::nullopt;
}

FrameGrid MediaPlayer::grid() const
{
    const auto it = m_grids.find(m_programme.itemOfPlay(m_streamPlay));
    return it == m_grids.end() ? FrameGrid() : it->second;
}

qint64 MediaPlayer::itemDurationNs(int item) const
{
    const auto it = m_durations.find(item);
    return it == m_durations.end() ? -1 : it->second;
}

void MediaPlayer::noteCurrentItem()
{
    const int item = m_programme.itemOfPlay(m_streamPlay);
    gint64 duration = -1;
    if (gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
        m_durations[item] = duration;
    GstPad* pad = gst_element_get_static_pad(m_sink, "sink");
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
        GstVideoInfo info;
        if (gst_video_info_from_caps(&info, caps) && info.fps_n > 0)
            m_grids[item] = FrameGrid(info.fps_n, info.fps_d);
        gst_caps_unref(caps);
    }
    gst_object_unref(pad);
}

bool MediaPlayer::halt()
{
    if (m_pipeline) {
        QString error;
        if (!changeState(GST_STATE_NULL, error)) {
            if (m_onError)
                m_onError(error);
            return false;
        }
        m_busWatch.reset();
        // A console sink was opened before its pipeline was: when the pipeline never got that far, it
        // is closed here.
        gst_element_set_state(m_sink, GST_STATE_NULL);
        gst_object_unref(m_sink);
        gst_object_unref(m_pipeline);
        m_sink = nullptr;
        m_pipeline = nullptr;
    }
    m_screenWindow.reset();
    if (m_clock) {
        gst_object_unref(m_clock);
        m_clock = nullptr;
    }
    return true;
}

bool MediaPlayer::pauseUnseen(QString& error)
{
    if (m_onScreen)
        g_object_set(m_sink, "show-preroll-frame", FALSE, nullptr);
    return changeState(GST_STATE_PAUSED, error) && waitForPreroll(error);
}

bool MediaPlayer::seekPaused(ProgrammePoint point, double rate, QString& error)
{
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    GstEvent* seek = gst_event_new_seek(rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, GstClockTime(point.positionNs),
                                        GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    m_seekPlay = point.play;
    m_seekSeqnum = gst_event_get_seqnum(seek);
    if (!gst_element_send_event(m_pipeline, seek)) {
        error = QStringLiteral("the pipeline refused a seek to %1 ns at rate %2").arg(point.positionNs).arg(rate);
        return false;
    }
    return waitForPreroll(error);
}

bool MediaPlayer::waitForPreroll(QString& error)
{
    const GstStateChangeReturn result = gst_element_get_state(m_pipeline, nullptr, nullptr, kPrerollTimeout);
    if (result == GST_STATE_CHANGE_FAILURE) {
        error = QStringLiteral("the pipeline failed to preroll: ") + takeBusError();
        return false;
    }
    if (result == GST_STATE_CHANGE_ASYNC) {
        error = QStringLiteral("the pipeline did not preroll within 10 s");
        return false;
    }
    return true;
}

bool MediaPlayer::changeState(GstState state, QString& error)
{
    if (gst_element_set_state(m_pipeline, state) != GST_STATE_CHANGE_FAILURE)
        return true;
    error = QStringLiteral("the pipeline cannot go to %1: %2")
                .arg(QString::fromUtf8(gst_element_state_get_name(state)), takeBusError());
    return false;
}

QString MediaPlayer::takeBusError()
{
    // The element that failed posts its error as it fails, and the message may reach the pipeline's bus
    // just after the change has been refused. The first error says why, unless GStreamer said before it
    // what it lacks (the error then only says that a plug-in is missing); any after it only follow from it.
    // (The main thread waits here, so the bus watch cannot take them meanwhile.)
    GstBus* bus = gst_element_get_bus(m_pipeline);
    const auto kinds = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT);
    GstMessage* first = nullptr;
    while (GstMessage* message = gst_bus_timed_pop_filtered(bus, kErrorMessageTimeout, kinds)) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            first = message;
            break;
        }
        if (std::optional<QString> missing = MissingPlugin::describe(message))
            m_missingPlugin = missing;
        gst_message_unref(message);
    }
    const QString text = m_missingPlugin ? *m_missingPlugin
                         : first         ? errorText(first)
                                         : QStringLiteral("no reason given");
    if (first)
        gst_message_unref(first);
    while (GstMessage* later = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR))
        gst_message_unref(later);
    gst_object_unref(bus);
    return text;
}

QString MediaPlayer::decoderName() const
{
    std::lock_guard<std::mutex> lock(m_decoderMutex);
    return m_decoder.name;
}

void MediaPlayer::announceDecoder()
{
    Decoders::Decoder decoder;
    {
        std::lock_guard<std::mutex> lock(m_decoderMutex);
        decoder = m_decoder;
    }
    if (decoder.name.isEmpty() || decoder.name == m_decoderTold)
        return;
    m_decoderTold = decoder.name;
    EventLine(QStringLiteral("decoder"))
        .add(QStringLiteral("name"), decoder.name)
        .add(QStringLiteral("hardware"), decoder.hardware)
        .print();
}

void MediaPlayer::chooseAudio()
{
    m_audioSink.clear();
    m_soundWhyOff = QStringLiteral("turned off");
    if (!m_soundAsked.value_or(false))
        return;
    const AudioOutput::Sink sink = AudioOutput::open();
    if (!sink.element) {
        m_soundWhyOff = sink.whyNone;
        return;
    }
    m_audioSink = sink.name;
    g_object_set(m_pipeline, "audio-sink", sink.element, "flags", kPlayVideo | kPlayAudio, nullptr);
    gst_object_unref(sink.element);
}

void MediaPlayer::announceSound()
{
    if (!m_soundAsked)
        return;
    gint audioStreams = 0;
    if (!m_audioSink.isEmpty())
        g_object_get(m_pipeline, "n-audio", &audioStreams, nullptr);
    EventLine line(QStringLiteral("sound"));
    line.add(QStringLiteral("on"), audioStreams > 0);
    if (audioStreams > 0)
        line.add(QStringLiteral("sink"), m_audioSink);
    else
        line.add(QStringLiteral("why"), m_audioSink.isEmpty() ? m_soundWhyOff : QStringLiteral("the item has no sound"));
    if (line.text() == m_soundTold)
        return;
    m_soundTold = line.text();
    line.print();
}

void MediaPlayer::onBusMessage(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STREAM_START) {
        noteCurrentItem();  // the next item of the programme has begun
        announceDecoder();
        announceSound();
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        if (m_onEnd)
            m_onEnd();
    } else if (std::optional<QString> missing = MissingPlugin::describe(message)) {
        m_missingPlugin = missing;  // the error that follows says less
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && m_onError) {
        m_onError(m_missingPlugin ? *m_missingPlugin : errorText(message));
    }
}

void MediaPlayer::onFrame(GstBuffer* buffer, bool preroll, GstPad* pad)
{
    qint64 now = FrameLog::monotonicNs();
    raiseThreadPriority();
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts))
        return;
    const qint64 key = Programme::frameKey(m_streamPlay, qint64(pts));
    if (preroll) {
        qint64 expected = key;
        if (m_holdKey.compare_exchange_strong(expected, -1))
            m_log.record(ShownFrame::Held, key, now);
        return;
    }
    const std::optional<qint64> due = dueOnClockNs(pts, pad);
    if (!due)
        return;
    const qint64 clockNow = qint64(gst_clock_get_time(m_clock));
    if (m_onScreen) {
        // The time the frame was due, read on the monotonic clock, rather than when it was drawn: a window's
        // figures leave out the wake-up of the sink's thread and the X server's drawing. The time it was
        // handed over goes beside it, for the lateness a slave reports.
        m_log.record(ShownFrame::Rendered, key, now + (*due - clockNow), now);
        return;
    }
    if (m_realtime) {
        // Woken a little early on purpose (see raiseThreadPriority): the rest is waited out on the CPU,
        // yielding to the other players' threads of the same priority.
        const qint64 until = std::min(*due, clockNow + 2 * kEarlyWakeNs);
        while (qint64(gst_clock_get_time(m_clock)) < until)
            std::this_thread::yield();
        now = FrameLog::monotonicNs();
    }
    m_log.record(ShownFrame::Rendered, key, now);
}

void MediaPlayer::onSinkEvent(GstEvent* event)
{
    if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START) {
        guint group = 0;
        gst_event_parse_group_id(event, &group);
        if (group == m_streamGroup)
            return;  // the same stream again, after a flush
        m_streamGroup = group;
        const qint64 loaded = m_pendingPlay.exchange(-1);
        m_streamPlay = loaded >= 0 ? loaded : m_streamPlay + 1;
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format != GST_FORMAT_TIME)
            return;
        // Taken once: a later stream's segment that carried the seek's number on must not undo its count.
        guint32 seek = gst_event_get_seqnum(event);
        if (seek != 0 && m_seekSeqnum.compare_exchange_strong(seek, 0))
            m_streamPlay = m_seekPlay.load();
        std::lock_guard<std::mutex> lock(m_stretchMutex);
        m_stretches.push_back(Stretch{m_streamPlay, qint64(segment->base), qint64(segment->start), segment->rate});
        if (m_stretches.size() > kKeptStretches)
            m_stretches.pop_front();
    }
}

void MediaPlayer::queueNextPlay()
{
    const qint64 next = m_nextPlay;
    const QString uri = m_programme.uriOfPlay(next);
    if (uri.isEmpty())
        return;  // the end of a programme that does not loop
    g_object_set(m_pipeline, "uri", uri.toUtf8().constData(), nullptr);
    m_nextPlay = next + 1;
}

std::optional<qint64> MediaPlayer::dueOnClockNs(GstClockTime pts, GstPad* pad) const
{
    GstEvent* segmentEvent = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!segmentEvent)
        return std::nullopt;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(segmentEvent, &segment);
    const guint64 runningTime = gst_segment_to_running_time(segment, GST_FORMAT_TIME, pts);
    gst_event_unref(segmentEvent);
    if (!GST_CLOCK_TIME_IS_VALID(runningTime))
        return std::nullopt;
    return qint64(gst_element_get_base_time(m_sink) + runningTime);
}

void MediaPlayer::raiseThreadPriority()
{
    // The sink's thread only wakes to show a frame and sleeps again; real-time priority lets it wake on
    // time on a busy machine, as a player's presentation thread should. Without the right to it, the
    // thread stays as it is.
    thread_local bool tried = false;
    if (tried)
        return;
    tried = true;
#ifdef __linux__
    sched_param param{};
    param.sched_priority = kPresentationPriority;
    m_realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
#endif
    if (m_realtime && !m_onScreen) {
        // Waking from a sleep still varies by tens of microseconds from one CPU to another (an idle CPU of
        // a virtual machine wakes slowly): the headless sink wakes a little early and waits out the rest.
        g_object_set(m_sink, "ts-offset", gint64(-kEarlyWakeNs), nullptr);
    }
}

void MediaPlayer::onHandoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer self)
{
    static_cast<MediaPlayer*>(self)->onFrame(buffer, false, pad);
}

void MediaPlayer::onPrerollHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer self)
{
    static_cast<MediaPlayer*>(self)->onFrame(buffer, true, nullptr);
}

GstPadProbeReturn MediaPlayer::onSinkPadEvent(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    static_cast<MediaPlayer*>(self)->onSinkEvent(GST_PAD_PROBE_INFO_EVENT(info));
    return GST_PAD_PROBE_OK;
}

void MediaPlayer::onAboutToFinish(GstElement*, gpointer self)
{
    static_cast<MediaPlayer*>(self)->queueNextPlay();
}

void MediaPlayer::onElementSetup(GstElement*, GstElement* element, gpointer self)
{
    if (std::optional<Decoders::Decoder> decoder = Decoders::identify(element)) {
        auto* player = static_cast<MediaPlayer*>(self);
        std::lock_guard<std::mutex> lock(player->m_decoderMutex);
        player->m_decoder = *decoder;
    }
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "uridecodebin") == 0)
        g_signal_connect(element, "pad-added", G_CALLBACK(&MediaPlayer::onDecodedPad), self);
}

void MediaPlayer::onDecodedPad(GstElement*, GstPad* pad, gpointer self)
{
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &MediaPlayer::onDecodedEvent, self, nullptr);
}

// An item's streams end one after the other (the sound a little before the frames, say). playbin lets the
// end of each but the last through to its stream synchronizer, which holds that stream's thread until the
// others end too; the last one to end queues the next play, and playbin then takes the item's pads down,
// which waits for the held thread: both stop for good (GStreamer 1.22), frames and sound. Where another
// play follows, the end of a stream is dropped here instead: its sink waits for the next play's data.
GstPadProbeReturn MediaPlayer::onDecodedEvent(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    const auto* player = static_cast<const MediaPlayer*>(self);
    return player->m_programme.uriOfPlay(player->m_nextPlay).isEmpty() ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

// A screen's trim (SyncedPlayback::setTrimNs), apart from the rest: the sink reads its element's base time
// at each frame's wait, and pointAt reads the pipeline's.
void MediaPlayer::shiftBaseTime(qint64 deltaNs)
{
    if (!m_pipeline || deltaNs == 0)
        return;
    const GstClockTime base = GstClockTime(qint64(gst_element_get_base_time(m_pipeline)) + deltaNs);
    gst_element_set_base_time(m_pipeline, base);
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(m_pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        gst_element_set_base_time(GST_ELEMENT(g_value_get_object(&item)), base);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}
