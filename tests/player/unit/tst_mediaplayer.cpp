// SPDX-License-Identifier: MIT
// One pipeline on its own: a screen it cannot show on fails its open with one message that says why, and
// the same player then opens a good clip (a file it cannot play: tst_playerfailures); the end of the stream
// reaches the handler on the main thread, whichever event loop Qt runs (the test also runs with
// QT_NO_GLIB=1); in a window, clips of every kind play and the log holds exactly the frames shown (ctest
// tst_mediaplayer_window, on a display of its own).
#include "BusWatch.h"
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "MediaPlayer.h"
#include "PipelineClock.h"
#include "PlayerTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

namespace {

constexpr qint64 kLeadNs = 100000000;
constexpr int kEndTimeoutMs = 10000;
// Frames 250 ms apart, so that a moment between two frames is clearly between them on a busy machine;
// a lead that a window's preroll fits in however busy the machine, since a window drops a late frame.
constexpr int kSlowFps = 4;
constexpr qint64 kSlowFrameNs = 1000000000 / kSlowFps;
constexpr qint64 kWindowLeadNs = 300000000;

// Opens `uri` on the monotonic clock.
bool openOn(MediaPlayer& player, const QString& uri, const VideoOutput& output, QString& error)
{
    GstClock* clock = PipelineClock::steerable();
    const bool opened = player.open(Programme({uri}, false), clock, output, "test", error);
    gst_object_unref(clock);
    return opened;
}

// Plays from the start at once; false, with the reason in `error`, when it cannot.
bool playNow(MediaPlayer& player, QString& error)
{
    return player.playFrom(ProgrammePoint{}, 1.0, FrameLog::monotonicNs() + kLeadNs, error);
}

} // namespace

class tst_MediaPlayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_clipUri;

    QString uriOf(const QString& name) const { return QUrl::fromLocalFile(m_dir.filePath(name)).toString(); }

    // The log as "h0 r0 r1 ...": each frame's kind and number.
    static QString shownFrames(const FrameLog& log)
    {
        const FrameGrid grid(kSlowFps);
        QStringList shown;
        for (const ShownFrame& frame : log.frames())
            shown.append(QLatin1Char(char(frame.kind)) + QString::number(grid.frameIndexAt(frame.key)));
        return shown.join(QLatin1Char(' '));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath("clip.avi"), 0.5, 30, ClipMaker::kDefaultSize, error), qPrintable(error));
        m_clipUri = uriOf("clip.avi");
    }

    void openFailsWithItsReason_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("reason");
        // A window sink without a display refuses the change at once.
        QTest::newRow("sink cannot start") << int(VideoOutput::Window) << "cannot go to PAUSED: Could not initialise X output";
        // Full screen without a display is the console's, through KMS: kmssink, and a DRM device for it.
        const bool kmssink = gst_element_factory_find("kmssink") != nullptr;
        QTest::newRow("console without its sink or a device")
            << int(VideoOutput::FullScreen) << (kmssink ? "cannot show frames on the console: Could not open DRM module (NULL) (there is no DRM device"
                                                      : "full screen without a display server needs kmssink, which gstreamer1.0-plugins-bad provides");
    }
    void openFailsWithItsReason()
    {
        QFETCH(int, output);
        QFETCH(QString, reason);
        if (output == VideoOutput::Window && !gst_element_factory_find("ximagesink"))
            QSKIP("no ximagesink here to refuse a missing display");
        if (output == VideoOutput::FullScreen && !QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("card*")}, QDir::System).isEmpty())
            QSKIP("a DRM device is here: the console is not this test's to take over");
        VideoOutput where;
        where.kind = VideoOutput::Kind(output);
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        FrameLog log;
        MediaPlayer player(log);
        bool ended = false;
        QStringList bareErrors;
        player.setHandlers([&ended] { ended = true; }, [&bareErrors](const QString& e) { bareErrors.append(e); });
        QString error;
        const bool opened = openOn(player, m_clipUri, where, error);
        qputenv("DISPLAY", display);
        QVERIFY2(!opened && !player.isOpen() && error.contains(reason), qPrintable(error));

        // The programme goes on: the same player plays a good clip to its end, and the failure has told
        // nothing more on the way.
        QVERIFY2(openOn(player, m_clipUri, false, error) && playNow(player, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&ended] { return ended; }, kEndTimeoutMs), "no end of stream");
        QVERIFY2(bareErrors.isEmpty(), qPrintable(bareErrors.join('\n')));
    }

    void endOfStreamReachesTheMainThread()
    {
        QVERIFY2(BusWatch::mainLoopIsGlib() == !qEnvironmentVariableIsSet("QT_NO_GLIB"),
                 "Qt's event loop on the main thread is GLib's unless QT_NO_GLIB is set");
        FrameLog log;
        MediaPlayer player(log);
        QThread* endedOn = nullptr;
        QStringList errors;
        player.setHandlers([&endedOn] { endedOn = QThread::currentThread(); },
                           [&errors](const QString& e) { errors.append(e); });
        QString error;
        QVERIFY2(openOn(player, m_clipUri, false, error) && playNow(player, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&] { return endedOn != nullptr; }, kEndTimeoutMs), "no end of stream");
        QCOMPARE(endedOn, QCoreApplication::instance()->thread());
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QVERIFY(player.halt() && !player.isOpen());
    }

    // A window logs what it shows, as a headless sink does: the first frame of each stretch, which
    // prerolled unseen before its instant, and not the frame that waited in the sink when a new position
    // came and was flushed unseen.
    void windowLogsTheFramesShown_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("Motion JPEG") << "slow.avi";
        QTest::newRow("Theora") << "slow.ogg";
        QTest::newRow("VP8") << "slow.webm";
    }
    void windowLogsTheFramesShown()
    {
        QFETCH(QString, file);
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no display (ctest tst_mediaplayer_window brings one of its own)");
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath(file), 2, kSlowFps, ClipMaker::kDefaultSize, error), qPrintable(error));
        FrameLog log;
        log.startTap();
        MediaPlayer player(log);
        bool ended = false;
        QStringList errors;
        player.setHandlers([&ended] { ended = true; }, [&errors](const QString& e) { errors.append(e); });
        QVERIFY2(openOn(player, uriOf(file), true, error), qPrintable(error));

        // Frames 0, 1, ... from `firstAt`; half way between frames 1 and 2, on to frame 6 and the end.
        const qint64 firstAt = FrameLog::monotonicNs() + kWindowLeadNs;
        QVERIFY2(player.playFrom(ProgrammePoint{}, 1.0, firstAt, error), qPrintable(error));
        runEventLoopUntil([&] { return FrameLog::monotonicNs() >= firstAt + 3 * kSlowFrameNs / 2; }, kEndTimeoutMs, 1);
        const qint64 movedFrom = FrameLog::monotonicNs();
        QVERIFY2(player.playFrom(ProgrammePoint{0, 6 * kSlowFrameNs}, 1.0, movedFrom + kWindowLeadNs, error), qPrintable(error));
        const qint64 movedBy = FrameLog::monotonicNs();
        QVERIFY2(runEventLoopUntil([&ended] { return ended; }, kEndTimeoutMs), "no end of stream");
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));

        // The frames due before the move were shown; one due while the move was under way may have been.
        QString before = QStringLiteral("h0");
        QString maybe;
        for (qint64 frame = 0; firstAt + frame * kSlowFrameNs <= movedBy; ++frame)
            (firstAt + frame * kSlowFrameNs <= movedFrom ? before : maybe) += QStringLiteral(" r%1").arg(frame);
        const QString shown = shownFrames(log);
        const QString after = QStringLiteral(" r6 r7");
        QVERIFY2(shown == before + after || (!maybe.isEmpty() && shown == before + maybe + after),
                 qPrintable(QStringLiteral("logged %1, shown %2%3").arg(shown, before, after)));
        // The log holds each frame's instant; the time the sink handed it over goes beside it for the
        // lateness a slave reports, and is never before that instant (less the clocks' reading apart).
        for (const ShownFrame& frame : log.takeTapped()) {
            if (frame.kind == ShownFrame::Rendered)
                QVERIFY2(frame.handedNs >= frame.monoNs - 1000000,
                         qPrintable(QStringLiteral("frame %1 handed over at %2, due at %3").arg(frame.key).arg(frame.handedNs).arg(frame.monoNs)));
        }
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_MediaPlayer>(argc, argv);
}
#include "tst_mediaplayer.moc"
