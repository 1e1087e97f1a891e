// SPDX-License-Identifier: MIT
// One pipeline on its own: a file it cannot play fails its open with one message that says why, and the
// same player then opens a good clip; the end of the stream reaches the handler on the main thread,
// whichever event loop Qt runs (the test also runs with QT_NO_GLIB=1); in a window, clips of every kind
// play and the log holds exactly the frames shown (ctest tst_mediaplayer_window, on a display of its own).
#include "BusWatch.h"
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "MediaPlayer.h"
#include "PipelineClock.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {

constexpr qint64 kLeadNs = 100000000;
constexpr int kEndTimeoutMs = 10000;
// Frames 250 ms apart, so that a moment between two frames is clearly between them on a busy machine;
// a lead that a window's preroll fits in however busy the machine, since a window drops a late frame.
constexpr int kSlowFps = 4;
constexpr qint64 kSlowFrameNs = 1000000000 / kSlowFps;
constexpr qint64 kWindowLeadNs = 300000000;

// Opens `uri` on the monotonic clock.
bool openOn(MediaPlayer& player, const QString& uri, bool window, QString& error)
{
    GstClock* clock = PipelineClock::steerable();
    const bool opened = player.open(Programme({uri}, false), clock, window, QStringLiteral("test"), error);
    gst_object_unref(clock);
    return opened;
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
        QVERIFY2(ClipMaker::make(m_dir.filePath(QStringLiteral("clip.avi")), 0.5, 30, ClipMaker::kDefaultSize, error),
                 qPrintable(error));
        m_clipUri = uriOf(QStringLiteral("clip.avi"));
        QFile text(m_dir.filePath(QStringLiteral("notes.avi")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("These are notes, not a film.\n");
    }

    void openFailsWithItsReason_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "missing.avi" << false << "cannot go to PAUSED: Resource not found";
        QTest::newRow("undecodable file") << "notes.avi" << false << "failed to preroll: Could not determine type of stream";
        // A window sink without a display refuses the change at once.
        QTest::newRow("sink cannot start") << "clip.avi" << true << "cannot go to PAUSED: Could not initialise X output";
    }
    void openFailsWithItsReason()
    {
        QFETCH(QString, file);
        QFETCH(bool, window);
        QFETCH(QString, reason);
        if (window && !gst_element_factory_find("ximagesink"))
            QSKIP("no ximagesink here to refuse a missing display");
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        FrameLog log;
        MediaPlayer player(log);
        bool ended = false;
        QStringList bareErrors;
        player.setHandlers([&ended] { ended = true; }, [&bareErrors](const QString& e) { bareErrors.append(e); });
        QString error;
        const bool opened = openOn(player, uriOf(file), window, error);
        qputenv("DISPLAY", display);
        QVERIFY2(!opened, "a file that cannot play opened");
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(!player.isOpen());

        // The programme goes on: the same player plays a good clip to its end, and the failure has told
        // nothing more on the way.
        QVERIFY2(openOn(player, m_clipUri, false, error), qPrintable(error));
        QVERIFY2(player.playFrom(ProgrammePoint{}, 1.0, FrameLog::monotonicNs() + kLeadNs, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&ended] { return ended; }, kEndTimeoutMs), "no end of stream");
        QVERIFY2(bareErrors.isEmpty(), qPrintable(bareErrors.join(QLatin1Char('\n'))));
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
        QVERIFY2(openOn(player, m_clipUri, false, error), qPrintable(error));
        QVERIFY2(player.playFrom(ProgrammePoint{}, 1.0, FrameLog::monotonicNs() + kLeadNs, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&] { return endedOn != nullptr; }, kEndTimeoutMs), "no end of stream");
        QCOMPARE(endedOn, QCoreApplication::instance()->thread());
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QVERIFY(player.halt());
        QVERIFY(!player.isOpen());
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
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));

        // The frames due before the move were shown; one due while the move was under way may have been.
        QString before = QStringLiteral("h0");
        QString maybe;
        for (qint64 frame = 0; firstAt + frame * kSlowFrameNs <= movedBy; ++frame)
            (firstAt + frame * kSlowFrameNs <= movedFrom ? before : maybe) += QStringLiteral(" r%1").arg(frame);
        const QString shown = shownFrames(log);
        const QString after = QStringLiteral(" r6 r7");
        QVERIFY2(shown == before + after || (!maybe.isEmpty() && shown == before + maybe + after),
                 qPrintable(QStringLiteral("logged %1, shown %2%3").arg(shown, before, after)));
    }
};

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    tst_MediaPlayer test;
    const int status = QTest::qExec(&test, argc, argv);
    // GStreamer's own threads (its task pool) end here, not while the leak check suspends every thread.
    gst_deinit();
    return status;
}
#include "tst_mediaplayer.moc"
