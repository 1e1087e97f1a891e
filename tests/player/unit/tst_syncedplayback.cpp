// SPDX-License-Identifier: MIT
// A real pipeline driven by the players' commands, on a clip made here: pause, step, step back and a
// paused seek hold exactly the frame they name; playing goes on frame by frame with none lost or shown
// twice across a speed change and a start that finds the player already on its time line, and a programme
// of items of other sizes and rates keeps to its time line (the commands refused are tst_playerfailures').
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "PipelineClock.h"
#include "PlayerTestSupport.h"
#include "SyncedPlayback.h"

#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <tuple>

namespace {

constexpr qint64 kLeadNs = 150000000;  // an instant this far ahead leaves time for a preroll
constexpr int kWaitMs = 10000;

std::vector<qint64> renderedPts(const std::vector<ShownFrame>& frames)
{
    std::vector<qint64> pts;
    for (const ShownFrame& frame : frames)
        if (frame.kind == ShownFrame::Rendered)
            pts.push_back(frame.key);
    return pts;
}

} // namespace

class tst_SyncedPlayback : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_uri;
    QString m_secondUri;
    FrameGrid m_grid{30, 1};

    // A player on the monotonic clock, prerolled on the programme (the clip when none is given).
    bool open(SyncedPlayback& playback, bool& ended, const std::optional<Programme>& programme = std::nullopt)
    {
        GstClock* clock = PipelineClock::steerable();  // the monotonic clock
        QString error;
        const bool opened = playback.media().open(programme.value_or(Programme({m_uri}, false)), clock, false, "test", error);
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
        std::tie(command.kind, command.positionUs, command.playOn, command.rate) = std::tie(kind, positionUs, playOn, rate);
        return command;
    }

    static qint64 lastHeld(const FrameLog& log)
    {
        const std::vector<ShownFrame> frames = log.frames();
        const auto held = std::find_if(frames.rbegin(), frames.rend(), [](const ShownFrame& f) { return f.kind == ShownFrame::Held; });
        return held == frames.rend() ? -1 : held->key;
    }

    // Waits for the instant to pass and frame `index` to be shown and held.
    bool heldFrame(const FrameLog& log, qint64 index) const
    {
        return runEventLoopUntil([&] { return lastHeld(log) == m_grid.frameStartNs(index); }, kWaitMs);
    }

    // Waits until the player has rendered frame `index` while playing.
    bool rendered(const FrameLog& log, qint64 index) const
    {
        return runEventLoopUntil([&] {
            const std::vector<qint64> pts = renderedPts(log.frames());
            return !pts.empty() && pts.back() >= m_grid.frameStartNs(index);
        }, kWaitMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath("clip.avi"), 2.0, 30, ClipMaker::kDefaultSize, error), qPrintable(error));
        QVERIFY2(ClipMaker::make(m_dir.filePath("second.avi"), 0.6, 25, QSize(640, 360), error), qPrintable(error));
        m_uri = QUrl::fromLocalFile(m_dir.filePath("clip.avi")).toString();
        m_secondUri = QUrl::fromLocalFile(m_dir.filePath("second.avi")).toString();
    }

    // A programme of two items of other sizes and frame rates, looping: from the last frame of an item the
    // next one's first frame follows at once, each frame of every play is shown once, and the programme
    // keeps to its time line however many items pass.
    void programmeGoesOnWithoutAHitch()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended, Programme({m_uri, m_secondUri}, true)));
        const qint64 startAt = ahead();
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), startAt));
        QVERIFY(runEventLoopUntil([&] { return log.count() > 0 && Programme::playOfKey(log.frames().back().key) >= 5; }, kWaitMs * 2));
        QVERIFY(!ended);
        // Where the master would tell a late player to come in: the play and position shown now.
        const std::optional<ProgrammePoint> now = playback.media().pointAt(FrameLog::monotonicNs());
        QVERIFY(now && now->play == 5);

        const FrameGrid grids[] = {FrameGrid(30, 1), FrameGrid(25, 1)};
        const qint64 frames[] = {60, 15};
        std::vector<qint64> expected;
        qint64 playStartNs = 0;  // on the programme's time line
        for (qint64 play = 0; play < 5; ++play) {
            for (qint64 k = 0; k < frames[play % 2]; ++k)
                expected.push_back(Programme::frameKey(play, grids[play % 2].frameStartNs(k)));
            playStartNs += grids[play % 2].frameStartNs(frames[play % 2]);
        }
        const std::vector<ShownFrame> shown = log.frames();
        std::vector<qint64> keys = renderedPts(shown);
        keys.resize(std::min(keys.size(), expected.size()));
        QCOMPARE(keys, expected);
        // The sixth play's first frame at its time: no pause, no seek, nothing added up over five items.
        const auto sixth = std::find_if(shown.begin(), shown.end(), [](const ShownFrame& f) { return Programme::playOfKey(f.key) == 5; });
        QVERIFY2(sixth != shown.end() && std::llabs(sixth->monoNs - startAt - playStartNs) < 10000000,
                 qPrintable(QStringLiteral("%1 us off its time").arg((sixth->monoNs - startAt - playStartNs) / 1000)));
    }

    // A master started again sends its start, play 0 from 0, whenever it comes: also while the loop's next
    // play is already on its way to the sink. From the start's instant on, the frames shown are play 0's,
    // from its first, however close to a loop point the start came.
    void startNearALoopPointBeginsPlayZero()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended, Programme({m_secondUri}, true)));
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), ahead()));
        const FrameGrid grid(25, 1);
        const qint64 clipNs = grid.frameStartNs(15);
        for (qint64 beforeEndNs = 0; beforeEndNs < clipNs; beforeEndNs += clipNs / 12) {
            // Until the play shown is the given time before its end.
            QVERIFY(runEventLoopUntil([&] {
                const std::optional<ProgrammePoint> now = playback.media().pointAt(FrameLog::monotonicNs());
                return now && now->play > 0 && now->positionNs >= clipNs - beforeEndNs - 20000000;
            }, kWaitMs));
            const qint64 startAt = ahead();
            QVERIFY(apply(playback, made(SyncCommand::Start, 0), startAt));
            QVERIFY(runEventLoopUntil([&] { return FrameLog::monotonicNs() > startAt + grid.frameStartNs(4); }, kWaitMs));
            std::vector<qint64> keys;
            for (const ShownFrame& frame : log.frames()) {
                if (frame.kind == ShownFrame::Rendered && frame.monoNs >= startAt - 5000000 && keys.size() < 3)
                    keys.push_back(frame.key);
            }
            QVERIFY2(keys == (std::vector<qint64>{grid.frameStartNs(0), grid.frameStartNs(1), grid.frameStartNs(2)}),
                     qPrintable(QStringLiteral("%1 ms before a loop point: play %2 frame at %3 ns first")
                                    .arg(beforeEndNs / 1000000)
                                    .arg(keys.empty() ? -1 : Programme::playOfKey(keys.front()))
                                    .arg(keys.empty() ? -1 : keys.front() % Programme::kPlaySpanNs)));
        }
    }

    void heldFramesAreTheNamedOnes()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended));
        QCOMPARE(lastHeld(log), qint64(0));  // prepared: the first frame
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), ahead()));
        QVERIFY(rendered(log, 3));

        // Positions travel in whole microseconds, a hair before the frame's start in nanoseconds.
        const qint64 frame12Us = m_grid.frameStartNs(12) / 1000;
        QVERIFY(apply(playback, made(SyncCommand::Pause, frame12Us), ahead()));
        QVERIFY(heldFrame(log, 12));
        QVERIFY(apply(playback, made(SyncCommand::Step, m_grid.frameStartNs(13) / 1000), ahead()));
        QVERIFY(heldFrame(log, 13));
        QVERIFY(apply(playback, made(SyncCommand::StepBack, frame12Us), ahead()));
        QVERIFY(heldFrame(log, 12));
        // Inside frame 45: that frame is held.
        QVERIFY(apply(playback, made(SyncCommand::Seek, m_grid.frameStartNs(45) / 1000 + 10000, false), ahead()));
        QVERIFY(heldFrame(log, 45));
        QVERIFY(!playback.timeline().playing);
    }

    void playingGoesOnFrameByFrame()
    {
        FrameLog log;
        SyncedPlayback playback(log);
        bool ended = false;
        QVERIFY(open(playback, ended));
        QVERIFY(apply(playback, made(SyncCommand::Start, 0), ahead()));
        QVERIFY(rendered(log, 5));
        // A start where the programme already is (a late player joining) leaves this one as it plays.
        const qint64 joinAt = ahead();
        QVERIFY(apply(playback, made(SyncCommand::Start, playback.timeline().positionAt(joinAt) / 1000), joinAt));
        QVERIFY(rendered(log, 20));
        // On at twice the speed, from the frame after the last one shown.
        const qint64 fastAt = ahead();
        const qint64 fastFrom = playback.continuingPositionNs(fastAt);
        QVERIFY(apply(playback, made(SyncCommand::Speed, fastFrom / 1000, true, 2.0), fastAt));
        QVERIFY(runEventLoopUntil([&] { return ended; }, kWaitMs));

        const std::vector<ShownFrame> frames = log.frames();
        const std::vector<qint64> pts = renderedPts(frames);
        std::vector<qint64> expected;
        for (qint64 k = 0; k < 60; ++k)
            expected.push_back(m_grid.frameStartNs(k));
        QCOMPARE(pts, expected);

        // Twice the clip's time in the wall clock's after the speed change, to the last frame (over 0.6 s: a
        // late wake-up moves it little).
        const ShownFrame& last = *std::find_if(frames.rbegin(), frames.rend(), [](const ShownFrame& f) { return f.kind == ShownFrame::Rendered; });
        const double ratio = double(last.key - fastFrom) / double(last.monoNs - fastAt);
        QVERIFY2(ratio > 1.7 && ratio < 2.3, qPrintable(QString::number(ratio)));
    }
};

int main(int argc, char* argv[])
{
    return runWithGStreamer<tst_SyncedPlayback>(argc, argv);
}
#include "tst_syncedplayback.moc"
