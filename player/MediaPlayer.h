// SPDX-License-Identifier: MIT
// One GStreamer pipeline that plays a programme (one or more media items in turn, looping or not) on a
// clock it is given, and records every frame it shows in a FrameLog. Frames are placed on the clock by
// the pipeline's base time, which the caller chooses: the frame at the position of a flushing seek is
// shown at exactly that base time. From one item to the next the pipeline goes on without a seek (the
// next item is queued while the last one plays out, and its first frame follows the last frame of the
// item before at once), so that every player passes an item's end at the same instant.
//
// The programme's sound, when asked for, plays on the same clock through the first audio output that
// opens (AudioOutput), and goes on across the switch to the next play like the frames. Without an output,
// or in an item without sound, the frames play alone, and one line says so. Known gap: through pulsesink
// (the fallback output) a start's sound comes as late as the start's margin, and on a busy machine it can
// stop for good after a pause (AudioOutput.cpp says why).
//
// All members are called on the main thread. The streaming threads record shown frames, count the plays
// as their streams reach the sink, and queue the next item.
#pragma once

#include "BusWatch.h"
#include "Decoders.h"
#include "FrameGrid.h"
#include "FrameLog.h"
#include "FullScreenWindow.h"
#include "Programme.h"
#include "VideoOutput.h"

#include <QString>

#include <gst/gst.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class MediaPlayer
{
public:
    explicit MediaPlayer(FrameLog& log);
    ~MediaPlayer();

    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // `onEnd` is called on the main thread at the end of the programme, `onError` on a pipeline error that
    // comes while it plays or holds a frame, and on a pipeline that cannot be stopped.
    void setHandlers(std::function<void()> onEnd, std::function<void(const QString&)> onError);
    // Whether the next open plays the programme's sound (`on`) or not, and says which in a "sound" line.
    // Never called: frames only, and no line (a player that only checks a clip).
    void setSound(bool on) { m_soundAsked = on; }

    // Builds the pipeline for `programme` on `clock` and prerolls it on the first frame of its first item,
    // which is shown and held. Frames go where `output` says: a window has `label` drawn on its frames, a
    // full-screen window carries it as its title only.
    bool open(const Programme& programme, GstClock* clock, const VideoOutput& output, const QString& label,
              QString& error);
    bool isOpen() const { return m_pipeline != nullptr; }
    const Programme& programme() const { return m_programme; }
    // The frames of the item the pipeline plays now.
    FrameGrid grid() const;
    // The length of an item as far as it has been seen, or -1.
    qint64 itemDurationNs(int item) const;
    // The play whose frames the sink shows now.
    qint64 currentPlay() const { return m_streamPlay; }
    // The element that decodes the video of the item loaded last (avdec_h264, say); empty before one is.
    QString decoderName() const;

    // Prerolls on the frame at `point` without showing it, then plays at `rate` so that this frame is shown
    // at `baseTimeNs` on the pipeline's clock.
    bool playFrom(ProgrammePoint point, double rate, qint64 baseTimeNs, QString& error);
    // Stops and shows the frame at `point`, held until the next command.
    bool holdFrame(ProgrammePoint point, QString& error);
    // Moves every frame still to come by `deltaNs` on the pipeline's clock (later; negative: earlier),
    // without a seek: the base time of the pipeline and of each of its elements moves, and the sink waits
    // for each next frame by it. A frame the sink already waits for keeps its time. (A screen's trim.)
    void shiftBaseTime(qint64 deltaNs);
    // Where the programme is at `clockNs` of the pipeline's clock while it plays, from what the sink has
    // been given; nothing when that lies past what is known (in an item that has not begun yet).
    std::optional<ProgrammePoint> pointAt(qint64 clockNs) const;
    // Ends playback and releases the pipeline's resources; false, told to `onError`, when the pipeline
    // refuses to stop (it is then left as it is: its threads may still run).
    bool halt();

    GstClock* clock() const { return m_clock; }
    // Whether the thread that shows the frames runs at real-time priority.
    bool realtime() const { return m_realtime; }

private:
    // A stretch of the programme as the sink was given it: from running time `startRt` on, the frames of
    // `play` from time stamp `startPts`, at `rate`.
    struct Stretch
    {
        qint64 play;
        qint64 startRt;
        qint64 startPts;
        double rate;
    };

    bool buildPipeline(const VideoOutput& output, const QString& label, QString& error);
    // Sizes the frames to the output that `output` names, and points the sink at it: a window of the X
    // display, or the console's display, which the sink opens here.
    bool fillScreen(GstElement* sinkBin, const VideoOutput& output, const QString& label, QString& error);
    bool openConsole(GstElement* sinkBin, const QString& connector, QSize& size, QString& error);
    // Puts the pipeline, paused, on the frame at `point`: loads the point's item when another one is
    // loaded, then seeks. The frame is shown and held with `show`, else it prerolls unseen.
    bool goTo(ProgrammePoint point, double rate, bool show, QString& error);
    // A flushing seek to `point` within the loaded item, and the wait for its frame to preroll.
    bool seekPaused(ProgrammePoint point, double rate, QString& error);
    bool waitForPreroll(QString& error);
    // Asks the pipeline for `state`; false, with `error` saying why, when the change fails.
    bool changeState(GstState state, QString& error);
    // Why the pipeline refused a change: the text of the first error it posted and nobody has read yet, or
    // what GStreamer lacks to play the stream when it said so before.
    QString takeBusError();
    // Gives playbin the sound's sink when the sound is asked for and an output opens; else notes why not.
    void chooseAudio();
    // Prints the decoder's line when the decoder is not the one told last.
    void announceDecoder();
    // Prints the sound's line, on or off and why, when it differs from the one told last.
    void announceSound();
    void onBusMessage(GstMessage* message);
    // Notes the length and frame rate of the item the sink has just begun.
    void noteCurrentItem();
    void onFrame(GstBuffer* buffer, bool preroll, GstPad* pad);
    void onSinkEvent(GstEvent* event);
    void queueNextPlay();
    void raiseThreadPriority();
    // When the frame with time stamp `pts` is due on the pipeline's clock, from the segment on `pad`.
    std::optional<qint64> dueOnClockNs(GstClockTime pts, GstPad* pad) const;
    // Goes to paused without showing the frame that prerolls on the way.
    bool pauseUnseen(QString& error);

    static void onHandoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer self);
    static void onPrerollHandoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer self);
    static GstPadProbeReturn onSinkPadEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static void onAboutToFinish(GstElement* playbin, gpointer self);
    static void onElementSetup(GstElement* playbin, GstElement* element, gpointer self);
    static void onDecodedPad(GstElement* uridecodebin, GstPad* pad, gpointer self);
    static GstPadProbeReturn onDecodedEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);

    FrameLog& m_log;
    // Set and cleared by the main thread only while no stream runs (before the pipeline leaves NULL, after
    // it is back there); the streaming threads read them while it runs.
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr;
    GstClock* m_clock = nullptr;
    Programme m_programme;
    bool m_onScreen = false;                   // main thread only: a window, or full screen
    std::unique_ptr<FullScreenWindow> m_screenWindow;  // main thread only; outlives the pipeline that draws in it
    std::map<int, FrameGrid> m_grids;          // main thread only; by item
    std::map<int, qint64> m_durations;         // main thread only; by item
    // The play whose frames reach the sink. Written by the streaming thread as a new stream reaches the
    // sink, and by the main thread while the pipeline is paused on a seek within the loaded item.
    std::atomic<qint64> m_streamPlay{0};
    std::atomic<guint> m_streamGroup{0};       // streaming thread: the group of the stream at the sink
    // The play that the next stream to reach the sink begins, when the main thread loaded its item; -1
    // when the next stream is the one queued after the play before. Main thread sets, streaming thread takes.
    std::atomic<qint64> m_pendingPlay{-1};
    // The play that the pipeline queues when the current one nears its end. Main thread sets it on a seek,
    // the streaming thread advances it as it queues.
    std::atomic<qint64> m_nextPlay{1};
    // The play that the segment of the last seek begins, and that seek's sequence number (0: none, or
    // taken). The main thread sets both before the seek; the streaming thread takes the play at that
    // segment. A loop's next stream, queued when the master's seek came, can reach the sink just before
    // the segment and count one play on; the segment sets it right.
    std::atomic<qint64> m_seekPlay{0};
    std::atomic<guint32> m_seekSeqnum{0};
    mutable std::mutex m_stretchMutex;
    std::deque<Stretch> m_stretches;           // guarded by m_stretchMutex; streaming thread appends, main reads
    // The key of a frame to be shown and held when it prerolls, or -1. Set by the main thread before the
    // seek; cleared by the streaming thread when it records that frame. (A frame that prerolls on the way
    // to the pause, before the seek, is not the one.)
    std::atomic<qint64> m_holdKey{-1};
    std::atomic<bool> m_realtime{false};  // written by the streaming thread
    mutable std::mutex m_decoderMutex;
    Decoders::Decoder m_decoder;           // guarded by m_decoderMutex; set by the streaming thread that adds it
    QString m_decoderTold;                 // main thread only
    std::optional<bool> m_soundAsked;      // main thread only
    QString m_audioSink;                   // main thread only: the sound's sink, empty without one
    QString m_soundWhyOff;                 // main thread only: why there is no sink, when asked for
    QString m_soundTold;                   // main thread only
    std::optional<QString> m_missingPlugin;  // main thread only: what the last missing-plugin message said
    std::unique_ptr<BusWatch> m_busWatch;  // main thread only
    std::function<void()> m_onEnd;
    std::function<void(const QString&)> m_onError;
};
