// SPDX-License-Identifier: MIT
// A real pipeline driven by the players' commands, on a clip made here: pause, step, step back and a
// paused seek hold exactly the frame they name; playing goes on frame by frame with none lost or shown
// twice across a seek, a speed change and a start that finds the player already on its time line.
#include "ClipMaker.h"
#include "PipelineClock.h"
#include "SyncedPlayback.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <algorithm>

namespace {

constexpr qint64 kLeadNs = 150000000;  // an instant this far ahead leaves time for a preroll
constexpr int kWaitMs = 10000;

std::vector<qint64> renderedPts(const std::vector<ShownFrame>& frames, std::size_t from = 0)
{
    std::vector<qint64> pts;
    for (std::size_t i = from; i < frames.size(); ++i) {
        if (frames[i].kind == ShownFrame::Rendered)
            pts.push_back(frames[i].ptsNs);
    }
    return pts;
}

qint64 medianSpacingNs(const std::vector<ShownFrame>& frames, std::size_t from, std::size_t to)
{
    std::vector<qint64> gaps;
    for (std::size_t i = from + 1; i < to; ++i)
        gaps.push_back(frames[i].monoNs - frames[i - 1].monoNs);
    std::sort(gaps.begin(), gaps.end());
    return gaps.empty() ? 0 : gaps[gaps.size() / 2];
}

} // namespace

class tst_SyncedPlayback : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_uri;
    FrameGrid m_grid{30, 1};

    // A player on the monotonic clock, prerolled on the clip.
    bool open(SyncedPlayback& playback, bool& ended)
    {
        GstClock* clock = PipelineClock::monotonic(0);
        QString error;
        const bool opened = playback.media().open(m_uri, clock, false, QStringLiteral("test"), error);
        gst_object_unref(clock);
        playback.media().setHandlers([&ended] { ended = true; }, [](const QString& e) { qWarning("%s", qPrintable(e)); });
        if (!opened)
            qWarning("%s", qPrintable(error));
        return opened;
    }

    bool apply(SyncedPlayback& playback, SyncCommand command, qint64 atClockNs)
    {
        QString error;
        const bool ok = playback.apply(command, atClockNs, error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    }

    static qint64 ahead() { return FrameLog::monotonicNs() + kLeadNs; }

    static SyncCommand made(SyncCommand::Kind kind, qint64 positionUs = 0, bool playOn = true, double rate = 1.0)
    {
        SyncCommand command;
        command.kind = kind;
        command.positionUs = positionUs;
        command.playOn = playOn;
        command.rate = rate;
        return command;
    }

    // Lets the instant pass and the held frame preroll.
    static void settle() { QTest::qWait(int(kLeadNs / 1000000) + 150); }

    static qint64 lastHeld(const FrameLog& log)
    {
        const std::vector<ShownFrame> frames = log.frames();
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if (it->kind == ShownFrame::Held)
                return it->ptsNs;
        }
        return -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("clip.avi"));
        QString error;
        QVERIFY2(ClipMaker::make(path, 2.0, 30, ClipMaker::kDefaultSize, error), qPrintable(error));
        m_uri = QUrl::fromLocalFile(path).toString();
    }

    void heldFramesAreTheNamedOnes()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended));
        QCOMPARE(lastHeld(log), qint64(0));  // prepared: the first frame
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), ahead()));
        QTest::qWait(300);

        // Positions travel in whole microseconds, a hair before the frame's start in nanoseconds.
        const qint64 frame12Us = m_grid.frameStartNs(12) / 1000;
        QVERIFY(apply(playback, made(SyncCommand::Pause, frame12Us), ahead()));
        settle();
        QCOMPARE(lastHeld(log), m_grid.frameStartNs(12));
        QVERIFY(apply(playback, made(SyncCommand::Step, m_grid.frameStartNs(13) / 1000), ahead()));
        settle();
        QCOMPARE(lastHeld(log), m_grid.frameStartNs(13));
        QVERIFY(apply(playback, made(SyncCommand::StepBack, frame12Us), ahead()));
        settle();
        QCOMPARE(lastHeld(log), m_grid.frameStartNs(12));
        // Inside frame 45: that frame is held.
        QVERIFY(apply(playback, made(SyncCommand::Seek, m_grid.frameStartNs(45) / 1000 + 10000, false), ahead()));
        settle();
        QCOMPARE(lastHeld(log), m_grid.frameStartNs(45));
        QVERIFY(!playback.timeline().playing);

        const std::size_t resumed = log.frames().size();
        QVERIFY(apply(playback, made(SyncCommand::Start, m_grid.frameStartNs(45) / 1000), ahead()));
        QVERIFY(QTest::qWaitFor([&] { return ended; }, kWaitMs));
        std::vector<qint64> expected;
        for (qint64 k = 45; k < 60; ++k)
            expected.push_back(m_grid.frameStartNs(k));
        QCOMPARE(renderedPts(log.frames(), resumed), expected);
    }

    void playingGoesOnFrameByFrame()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended));
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), ahead()));
        QTest::qWait(350);
        // A start where the programme already is (a late player joining) leaves this one as it plays.
        const qint64 joinAt = ahead();
        QVERIFY(apply(playback, made(SyncCommand::Start, playback.timeline().positionAt(joinAt) / 1000), joinAt));
        QTest::qWait(250);
        // On at twice the speed, from the frame after the last one shown.
        const qint64 fastAt = ahead();
        const qint64 fastFrom = playback.continuingPositionNs(fastAt);
        QVERIFY(apply(playback, made(SyncCommand::Speed, fastFrom / 1000, true, 2.0), fastAt));
        QVERIFY(QTest::qWaitFor([&] { return ended; }, kWaitMs));

        const std::vector<ShownFrame> frames = log.frames();
        const std::vector<qint64> pts = renderedPts(frames);
        std::vector<qint64> expected;
        for (qint64 k = 0; k < 60; ++k)
            expected.push_back(m_grid.frameStartNs(k));
        QCOMPARE(pts, expected);

        // Frames come twice as often after the speed change (medians: robust against a late wake-up).
        const auto fast = std::find_if(frames.begin(), frames.end(),
                                       [&](const ShownFrame& f) { return f.kind == ShownFrame::Rendered && f.ptsNs > fastFrom; });
        const std::size_t split = std::size_t(fast - frames.begin());
        const double ratio = double(medianSpacingNs(frames, 1, split - 1)) / double(medianSpacingNs(frames, split, frames.size()));
        QVERIFY2(ratio > 1.7 && ratio < 2.3, qPrintable(QString::number(ratio)));
    }
};

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    tst_SyncedPlayback test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_syncedplayback.moc"
