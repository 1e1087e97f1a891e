// SPDX-License-Identifier: MIT
// One GStreamer pipeline that plays a media file on a clock it is given, and records every frame it
// shows in a FrameLog. Frames are placed on the clock by the pipeline's base time, which the caller
// chooses: the frame at the position of a flushing seek is shown at exactly that base time.
//
// All members are called on the main thread. The streaming thread only records shown frames.
#pragma once

#include "BusWatch.h"
#include "FrameGrid.h"
#include "FrameLog.h"

#include <QString>

#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class MediaPlayer
{
public:
    explicit MediaPlayer(FrameLog& log);
    ~MediaPlayer();

    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // `onEnd` is called on the main thread at the end of the stream, `onError` on a pipeline error that
    // comes while it plays or holds a frame, and on a pipeline that cannot be stopped.
    void setHandlers(std::function<void()> onEnd, std::function<void(const QString&)> onError);

    // Builds the pipeline for `uri` on `clock` and prerolls it on the first frame, which is shown and held.
    // With `window`, frames go to a window with `label` drawn on them; otherwise to a headless sink.
    bool open(const QString& uri, GstClock* clock, bool window, const QString& label, QString& error);
    bool isOpen() const { return m_pipeline != nullptr; }
    const FrameGrid& grid() const { return m_grid; }
    // The stream's length, or -1 when the pipeline cannot tell.
    qint64 durationNs() const;

    // Prerolls on the frame at `positionNs` without showing it, then plays at `rate` so that this frame
    // is shown at `baseTimeNs` on the pipeline's clock.
    bool playFrom(qint64 positionNs, double rate, qint64 baseTimeNs, QString& error);
    // Stops and shows the frame at `positionNs`, held until the next command.
    bool holdFrame(qint64 positionNs, QString& error);
    // Ends playback and releases the pipeline's resources; false, told to `onError`, when the pipeline
    // refuses to stop (it is then left as it is: its threads may still run).
    bool halt();

    GstClock* clock() const { return m_clock; }
    // Whether the thread that shows the frames runs at real-time priority.
    bool realtime() const { return m_realtime; }

private:
    bool seekPaused(qint64 positionNs, double rate, QString& error);
    bool waitForPreroll(QString& error);
    // Asks the pipeline for `state`; false, with `error` saying why, when the change fails.
    bool changeState(GstState state, QString& error);
    // Why the pipeline refused a change: the text of the first error it posted and nobody has read yet.
    QString takeBusError();
    void onBusMessage(GstMessage* message);
    void onFrame(GstBuffer* buffer, bool preroll, GstPad* pad);
    void raiseThreadPriority();
    // When the frame with time stamp `pts` is due on the pipeline's clock, from the segment on `pad`.
    std::optional<qint64> dueOnClockNs(GstClockTime pts, GstPad* pad) const;
    // Goes to paused without showing the frame that prerolls on the way.
    bool pauseUnseen(QString& error);

    static void onHandoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer self);
    static void onPrerollHandoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer self);
    static GstPadProbeReturn onWindowFrame(GstPad* pad, GstPadProbeInfo* info, gpointer self);

    FrameLog& m_log;
    // Set and cleared by the main thread only while no stream runs (before the pipeline leaves NULL, after
    // it is back there); the streaming thread reads them while it runs.
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr;
    GstClock* m_clock = nullptr;
    FrameGrid m_grid;       // main thread only
    bool m_window = false;  // main thread only
    // The time stamp of a frame to be shown and held when it prerolls, or -1. Set by the main thread before
    // the seek; cleared by the streaming thread when it records that frame. (A frame that prerolls on the
    // way to the pause, before the seek, is not the one.)
    std::atomic<qint64> m_holdPts{-1};
    std::atomic<bool> m_realtime{false};  // written by the streaming thread
    std::unique_ptr<BusWatch> m_busWatch;  // main thread only
    std::function<void()> m_onEnd;
    std::function<void(const QString&)> m_onError;
};
