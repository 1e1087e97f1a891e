// SPDX-License-Identifier: MIT
#include "MediaPlayer.h"

#include <gst/video/video.h>

#include <algorithm>
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

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
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

bool MediaPlayer::open(const QString& uri, GstClock* clock, bool window, const QString& label, QString& error)
{
    if (!halt()) {
        error = QStringLiteral("the previous pipeline did not stop");
        return false;
    }
    m_window = window;
    // The queue lets the frames be decoded ahead, so that the sink's thread only wakes to show them: four
    // players waking at one instant then do not wait for each other's decoding.
    const QString description =
        window ? QStringLiteral("uridecodebin uri=%1 ! videoconvert ! textoverlay text=%2 valignment=top "
                                "halignment=left shaded-background=true font-desc=\"Sans Bold 14\" ! videoconvert ! queue max-size-buffers=4 ! ximagesink name=sink")
                     .arg(quoted(uri), quoted(label))
               : QStringLiteral("uridecodebin uri=%1 ! queue max-size-buffers=4 ! fakesink name=sink sync=true "
                                "signal-handoffs=true")
                     .arg(quoted(uri));
    GError* parseError = nullptr;
    m_pipeline = gst_parse_launch(description.toUtf8().constData(), &parseError);
    if (!m_pipeline || parseError) {
        error = QStringLiteral("cannot build the pipeline: %1")
                    .arg(QString::fromUtf8(parseError ? parseError->message : "unknown error"));
        g_clear_error(&parseError);
        if (m_pipeline)
            gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
        return false;
    }
    m_sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
    if (window) {
        GstPad* pad = gst_element_get_static_pad(m_sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &MediaPlayer::onWindowFrame, this, nullptr);
        gst_object_unref(pad);
    } else {
        g_signal_connect(m_sink, "handoff", G_CALLBACK(&MediaPlayer::onHandoff), this);
        g_signal_connect(m_sink, "preroll-handoff", G_CALLBACK(&MediaPlayer::onPrerollHandoff), this);
    }
    m_clock = GST_CLOCK(gst_object_ref(clock));
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), m_clock);
    // The base time is ours to set: the pipeline must not choose one when it goes to playing.
    gst_element_set_start_time(m_pipeline, GST_CLOCK_TIME_NONE);
    m_holdPts = 0;
    if (!changeState(GST_STATE_PAUSED, error) || !waitForPreroll(error)) {
        halt();
        return false;
    }

    GstPad* pad = gst_element_get_static_pad(m_sink, "sink");
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
        GstVideoInfo info;
        if (gst_video_info_from_caps(&info, caps) && info.fps_n > 0)
            m_grid = FrameGrid(info.fps_n, info.fps_d);
        gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    m_busWatch = std::make_unique<BusWatch>(m_pipeline, [this](GstMessage* message) { onBusMessage(message); });
    return true;
}

bool MediaPlayer::playFrom(qint64 positionNs, double rate, qint64 baseTimeNs, QString& error)
{
    if (!m_pipeline) {
        error = QStringLiteral("nothing is prepared");
        return false;
    }
    m_holdPts = -1;
    if (!pauseUnseen(error) || !seekPaused(positionNs, rate, error))
        return false;
    // After the flushing seek the frame at positionNs has running time 0: it is shown at the base time.
    gst_element_set_base_time(m_pipeline, GstClockTime(baseTimeNs));
    return changeState(GST_STATE_PLAYING, error);
}

bool MediaPlayer::holdFrame(qint64 positionNs, QString& error)
{
    if (!m_pipeline) {
        error = QStringLiteral("nothing is prepared");
        return false;
    }
    if (!pauseUnseen(error))
        return false;
    if (m_window)
        g_object_set(m_sink, "show-preroll-frame", TRUE, nullptr);
    m_holdPts = positionNs;
    return seekPaused(positionNs, 1.0, error);
}

qint64 MediaPlayer::durationNs() const
{
    gint64 duration = -1;
    if (!m_pipeline || !gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration))
        return -1;
    return duration;
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
        gst_object_unref(m_sink);
        gst_object_unref(m_pipeline);
        m_sink = nullptr;
        m_pipeline = nullptr;
    }
    if (m_clock) {
        gst_object_unref(m_clock);
        m_clock = nullptr;
    }
    return true;
}

bool MediaPlayer::pauseUnseen(QString& error)
{
    if (m_window)
        g_object_set(m_sink, "show-preroll-frame", FALSE, nullptr);
    return changeState(GST_STATE_PAUSED, error) && waitForPreroll(error);
}

bool MediaPlayer::seekPaused(qint64 positionNs, double rate, QString& error)
{
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(m_pipeline, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, GstClockTime(positionNs),
                          GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)) {
        error = QStringLiteral("the pipeline refused a seek to %1 ns at rate %2").arg(positionNs).arg(rate);
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
    // just after the change has been refused. The first error says why; any after it only follow from it.
    // (The main thread waits here, so the bus watch cannot take them meanwhile.)
    GstBus* bus = gst_element_get_bus(m_pipeline);
    GstMessage* first = gst_bus_timed_pop_filtered(bus, kErrorMessageTimeout, GST_MESSAGE_ERROR);
    const QString text = first ? errorText(first) : QStringLiteral("no reason given");
    if (first)
        gst_message_unref(first);
    while (GstMessage* later = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR))
        gst_message_unref(later);
    gst_object_unref(bus);
    return text;
}

void MediaPlayer::onBusMessage(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        if (m_onEnd)
            m_onEnd();
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && m_onError) {
        m_onError(errorText(message));
    }
}

void MediaPlayer::onFrame(GstBuffer* buffer, bool preroll, GstPad* pad)
{
    qint64 now = FrameLog::monotonicNs();
    raiseThreadPriority();
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts))
        return;
    if (preroll) {
        qint64 expected = qint64(pts);
        if (m_holdPts.compare_exchange_strong(expected, -1))
            m_log.record(ShownFrame::Held, qint64(pts), now);
        return;
    }
    const std::optional<qint64> due = dueOnClockNs(pts, pad);
    if (!due)
        return;
    const qint64 clockNow = qint64(gst_clock_get_time(m_clock));
    if (m_window) {
        // The buffer arrives before the sink waits for its time: record that time, read on the monotonic clock.
        m_log.record(ShownFrame::Rendered, qint64(pts), now + (*due - clockNow));
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
    m_log.record(ShownFrame::Rendered, qint64(pts), now);
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
    if (m_realtime && !m_window) {
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

GstPadProbeReturn MediaPlayer::onWindowFrame(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    auto* player = static_cast<MediaPlayer*>(self);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    // The frame awaited for a hold is that preroll frame; others are rendered at their time, unless they
    // preroll on the way to a pause and are flushed unseen.
    const bool held = qint64(GST_BUFFER_PTS(buffer)) == player->m_holdPts.load();
    GST_OBJECT_LOCK(player->m_pipeline);
    const bool playing = GST_STATE_TARGET(player->m_pipeline) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(player->m_pipeline);
    if (held || playing)
        player->onFrame(buffer, held, pad);
    return GST_PAD_PROBE_OK;
}
