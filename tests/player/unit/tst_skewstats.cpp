// SPDX-License-Identifier: MIT
// The player's measurement: pairing the frames two players showed, percentiles over several players'
// frames, when a player came into step for good, the loop points of a looping programme, the master's own
// frame spacing and the machine's wake-up noise it shows, the frame a position in whole microseconds names, and the frame log's malformed lines.
#include "FrameGrid.h"
#include "FrameLog.h"
#include "Programme.h"
#include "SkewStats.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(std::vector<ShownFrame>)

namespace {

constexpr qint64 kFrameNs = 33333333;

// `count` frames from frame `first`, rendered one frame apart from `startNs`.
std::vector<ShownFrame> rendered(int first, int count, qint64 startNs)
{
    std::vector<ShownFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(ShownFrame{ShownFrame::Rendered, FrameGrid(30, 1).frameStartNs(first + i), startNs + i * kFrameNs});
    return frames;
}

std::vector<ShownFrame> joined(std::vector<ShownFrame> a, const std::vector<ShownFrame>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 90 frames in step with rendered(0, 90, 5 s) but frame `off`, shown 12 ms late.
std::vector<ShownFrame> offAt(int off)
{
    const qint64 t0 = 5000000000;
    return joined(joined(rendered(0, off, t0), rendered(off, 1, t0 + off * kFrameNs + 12000000)),
                  rendered(off + 1, 89 - off, t0 + (off + 1) * kFrameNs));
}

} // namespace

class tst_SkewStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row: the frames of the reference and of the other player, and the figures as "matched unmatched
    // p99-us signed-median-us".
    void pairsFramesWithTheNearestShowing_data()
    {
        QTest::addColumn<std::vector<ShownFrame>>("reference");
        QTest::addColumn<std::vector<ShownFrame>>("other");
        QTest::addColumn<QString>("figures");
        const qint64 t0 = 5000000000;
        QTest::newRow("4 ms early") << rendered(0, 30, t0) << rendered(0, 30, t0 - 4000000) << "30 0 4000 -4000";
        // A seek back shows frames 0..9 twice; each showing pairs with its own, not with the first.
        QTest::newRow("seek back") << joined(rendered(0, 10, t0), rendered(0, 10, t0 + 2000000000))
                                   << joined(rendered(0, 10, t0 + 100000), rendered(0, 10, t0 + 2000100000)) << "20 0 100 100";
        QTest::newRow("frames the reference never showed") << rendered(0, 10, t0) << rendered(5, 10, t0 + 5 * kFrameNs) << "5 5 0 0";
        QTest::newRow("too far apart to be the same showing") << rendered(0, 5, t0) << rendered(0, 5, t0 + 1500000000) << "0 5 0 0";
        QTest::newRow("held frames do not count") << rendered(0, 5, t0) << std::vector<ShownFrame>{{ShownFrame::Held, 0, t0 + 7000000}} << "0 0 0 0";
    }
    void pairsFramesWithTheNearestShowing()
    {
        QFETCH(std::vector<ShownFrame>, reference);
        QFETCH(std::vector<ShownFrame>, other);
        QFETCH(QString, figures);
        const SkewFigures skew = SkewStats::compare(reference, other);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(skew.matched).arg(skew.unmatched).arg(skew.p99Us).arg(skew.signedMedianUs), figures);
    }

    void pooledPercentiles()
    {
        // One slave 100 us late on 30 frames, another 3 ms late on one: the pooled p99 is that one frame.
        const qint64 t0 = 1000000000;
        const SkewFigures a = SkewStats::compare(rendered(0, 30, t0), rendered(0, 30, t0 + 100000));
        const SkewFigures b = SkewStats::compare(rendered(0, 30, t0), rendered(7, 1, t0 + 7 * kFrameNs + 3000000));
        std::vector<qint64> pooled = a.magnitudesUs;
        pooled.insert(pooled.end(), b.magnitudesUs.begin(), b.magnitudesUs.end());
        QVERIFY(SkewStats::percentile(pooled, 0.5) == 100 && SkewStats::percentile(pooled, 0.99) == 3000);
        // Nearest rank, whatever the order.
        QVERIFY(SkewStats::percentile({5, 1, 4, 2, 3}, 0.5) == 3 && SkewStats::percentile({5, 1, 4, 2, 3}, 0.0) == 1);
        QCOMPARE(SkewStats::percentile({}, 0.99), qint64(0));
    }

    void inStepFromTheFirstFrameThatStays_data()
    {
        QTest::addColumn<std::vector<ShownFrame>>("other");
        QTest::addColumn<qint64>("expectedNs");  // -1: never

        const qint64 t0 = 5000000000;
        QTest::newRow("in step from the start") << rendered(0, 90, t0 + 500000) << t0 + 500000;
        // 20 frames 30 ms late, then in step: from the 21st frame.
        QTest::newRow("steers into step") << joined(rendered(0, 20, t0 + 30000000), rendered(20, 70, t0 + 20 * kFrameNs)) << t0 + 20 * kFrameNs;
        // One frame 12 ms off (a busy machine, say) in the first second: from the frame after it; one a
        // second later no longer moves it.
        QTest::newRow("one frame off early") << offAt(10) << t0 + 11 * kFrameNs;
        QTest::newRow("one frame off later") << offAt(60) << t0;
        QTest::newRow("never") << rendered(0, 90, t0 + 20000000) << qint64(-1);
        // In step only for the last 10 frames: too short a stretch to call it in step.
        QTest::newRow("too short at the end") << joined(rendered(0, 80, t0 + 20000000), rendered(80, 10, t0 + 80 * kFrameNs)) << qint64(-1);
    }
    void inStepFromTheFirstFrameThatStays()
    {
        QFETCH(std::vector<ShownFrame>, other);
        QFETCH(qint64, expectedNs);
        const std::optional<qint64> from = SkewStats::inStepFrom(rendered(0, 90, 5000000000), other, 10000);
        QCOMPARE(from.value_or(-1), expectedNs);
    }

    void loopPointsAndTheMastersSpacing()
    {
        // Two plays of ten frames, one after the other; the slave shows the first frame of the second play
        // 5 ms late, the master its frame 4 of the first play 2 ms late.
        const qint64 t0 = 1000000000;
        const auto play = [](qint64 number, std::vector<ShownFrame> frames) {
            for (ShownFrame& frame : frames)
                frame.key += number * Programme::kPlaySpanNs;
            return frames;
        };
        std::vector<ShownFrame> master = joined(rendered(0, 10, t0), play(1, rendered(0, 10, t0 + 10 * kFrameNs)));
        master[4].monoNs += 2000000;
        std::vector<ShownFrame> slave = joined(rendered(0, 10, t0), play(1, rendered(0, 10, t0 + 10 * kFrameNs)));
        slave[10].monoNs += 5000000;
        const LoopFigures loops = SkewStats::loopPoints({master, slave});
        QVERIFY(loops.loopPoints == 1 && loops.frameDurationUs == kFrameNs / 1000 && loops.worstLateUs == 5000);
        QCOMPARE(loops.worstLatePerPlayerUs, (std::vector<qint64>{0, 5000}));
        // The late frame's interval before and after it; the change of play counts for nothing.
        const std::vector<qint64> spacing = SkewStats::masterSpacingUs(master);
        QVERIFY(spacing.size() == 18 && SkewStats::percentile(spacing, 1.0) == 2000 && std::count(spacing.begin(), spacing.end(), 2000) == 2);
    }

    void wakeNoiseLeavesOutPausesAndSpeedChanges()
    {
        // Ten frames, a pause of a second, ten frames at twice the speed, and ten at normal speed again of
        // which one comes 3 ms late: only the stall is noise.
        const qint64 t0 = 1000000000;
        std::vector<ShownFrame> master = rendered(0, 10, t0);
        std::vector<ShownFrame> fast = rendered(10, 10, t0 + 10 * kFrameNs + 1000000000);
        for (std::size_t i = 0; i < fast.size(); ++i)
            fast[i].monoNs = fast.front().monoNs + qint64(i) * kFrameNs / 2;
        master = joined(joined(master, fast), rendered(20, 10, fast.back().monoNs + kFrameNs));
        QCOMPARE(SkewStats::wakeNoiseP99Us(master), 0);
        master[25].monoNs += 3000000;
        QCOMPARE(SkewStats::wakeNoiseP99Us(master), 3000);
    }

    void positionsInWholeMicrosecondsNameTheirFrame_data()
    {
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("den");
        QTest::addColumn<qint64>("positionUs");
        QTest::addColumn<qint64>("frameStartNs");
        QTest::newRow("29.97 fps, frame 107892") << 30000 << 1001 << qint64(3599996400) << qint64(3599996400000);
        QTest::newRow("25 fps, 1 us before frame 3") << 25 << 1 << qint64(119999) << qint64(120000000);
        QTest::newRow("25 fps, 2 us before frame 3") << 25 << 1 << qint64(119998) << qint64(80000000);
        QTest::newRow("before the start") << 25 << 1 << qint64(-5000) << qint64(0);
    }
    void positionsInWholeMicrosecondsNameTheirFrame()
    {
        QFETCH(int, num);
        QFETCH(int, den);
        QFETCH(qint64, positionUs);
        QFETCH(qint64, frameStartNs);
        QCOMPARE(FrameGrid(num, den).snapNs(positionUs * 1000), frameStartNs);
    }

    // Every session writes and reads frame logs; here the lines that are no frame's, each dropped and counted.
    void frameLogDropsMalformedLines()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("frames")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        file.write("h 0 11\nr 12\nx 1 2\nr 1 2 3\nr a 5\nr 33333333 123456789012345\n");
        file.close();
        QString error;
        int bad = 0;
        const std::vector<ShownFrame> read = FrameLog::read(file.fileName(), error, &bad);
        QCOMPARE(bad, 4);
        QVERIFY(read.size() == 2 && read[0].kind == ShownFrame::Held && read[1].key == kFrameNs && read[1].monoNs == 123456789012345);
        QVERIFY(FrameLog::read(dir.filePath("missing"), error).empty() && !error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_SkewStats)
#include "tst_skewstats.moc"
