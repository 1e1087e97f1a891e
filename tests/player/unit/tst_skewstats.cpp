// SPDX-License-Identifier: MIT
// The player's measurement: pairing the frames two players showed, the same-frame share, the frame grid
// every player snaps positions to, and the frame log's file form.
#include "FrameGrid.h"
#include "FrameLog.h"
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

} // namespace

class tst_SkewStats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pairsFramesWithTheNearestShowing_data()
    {
        QTest::addColumn<std::vector<ShownFrame>>("reference");
        QTest::addColumn<std::vector<ShownFrame>>("other");
        QTest::addColumn<int>("matched");
        QTest::addColumn<int>("unmatched");
        QTest::addColumn<qint64>("p99Us");
        QTest::addColumn<qint64>("signedMedianUs");

        const qint64 t0 = 5000000000;
        QTest::newRow("in step") << rendered(0, 30, t0) << rendered(0, 30, t0) << 30 << 0 << qint64(0) << qint64(0);
        QTest::newRow("250 us late") << rendered(0, 30, t0) << rendered(0, 30, t0 + 250000) << 30 << 0 << qint64(250)
                                     << qint64(250);
        QTest::newRow("4 ms early") << rendered(0, 30, t0) << rendered(0, 30, t0 - 4000000) << 30 << 0 << qint64(4000)
                                    << qint64(-4000);
        // A seek back shows frames 0..9 twice; each showing pairs with its own, not with the first.
        QTest::newRow("seek back") << joined(rendered(0, 10, t0), rendered(0, 10, t0 + 2000000000))
                                   << joined(rendered(0, 10, t0 + 100000), rendered(0, 10, t0 + 2000100000)) << 20 << 0
                                   << qint64(100) << qint64(100);
        QTest::newRow("frames the reference never showed") << rendered(0, 10, t0) << rendered(5, 10, t0 + 5 * kFrameNs)
                                                           << 5 << 5 << qint64(0) << qint64(0);
        QTest::newRow("held frames do not count")
            << rendered(0, 5, t0) << std::vector<ShownFrame>{{ShownFrame::Held, 0, t0 + 7000000}} << 0 << 0 << qint64(0)
            << qint64(0);
    }
    void pairsFramesWithTheNearestShowing()
    {
        QFETCH(std::vector<ShownFrame>, reference);
        QFETCH(std::vector<ShownFrame>, other);
        QFETCH(int, matched);
        QFETCH(int, unmatched);
        QFETCH(qint64, p99Us);
        QFETCH(qint64, signedMedianUs);
        const SkewFigures figures = SkewStats::compare(reference, other);
        QCOMPARE(figures.matched, matched);
        QCOMPARE(figures.unmatched, unmatched);
        QCOMPARE(figures.p99Us, p99Us);
        QCOMPARE(figures.signedMedianUs, signedMedianUs);
    }

    void sameFrameShare()
    {
        const qint64 t0 = 1000000000;
        QCOMPARE(SkewStats::sameFrameShare({rendered(0, 30, t0), rendered(0, 30, t0)}), 1.0);
        // One player a millisecond late differs for a millisecond at each of 29 frame changes.
        const double late = SkewStats::sameFrameShare({rendered(0, 30, t0), rendered(0, 30, t0 + 1000000)});
        QVERIFY2(std::abs(late - (1.0 - 1.0 / 33.333)) < 0.005, qPrintable(QString::number(late)));
        QCOMPARE(SkewStats::sameFrameShare({rendered(0, 5, t0), rendered(0, 5, t0 + 10 * kFrameNs)}), 0.0);
        QCOMPARE(SkewStats::sameFrameShare({rendered(0, 5, t0), {}}), 0.0);
    }

    void frameGridSnapsWhatTheWireCarries_data()
    {
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("den");
        QTest::newRow("30 fps") << 30 << 1;
        QTest::newRow("29.97 fps") << 30000 << 1001;
        QTest::newRow("25 fps") << 25 << 1;
    }
    void frameGridSnapsWhatTheWireCarries()
    {
        QFETCH(int, num);
        QFETCH(int, den);
        const FrameGrid grid(num, den);
        for (qint64 k : {0, 1, 2, 29, 30, 121, 122, 3599, 107892}) {
            const qint64 start = grid.frameStartNs(k);
            QCOMPARE(grid.frameIndexAt(start), k);
            // Positions travel in whole microseconds: the truncated start still names frame k.
            QCOMPARE(grid.frameIndexAt(start / 1000 * 1000), k);
            QCOMPARE(grid.snapNs(start + grid.frameDurationNs() / 2), start);
            QCOMPARE(grid.snapNs(grid.frameStartNs(k + 1) - 2000), start);
        }
    }

    void timelineMovesOnlyWhilePlaying()
    {
        Timeline paused{false, 4000000000, 100, 1.0};
        QCOMPARE(paused.positionAt(900000000), qint64(4000000000));
        Timeline fast{true, 1000000000, 500000000, 2.0};
        QCOMPARE(fast.positionAt(750000000), qint64(1500000000));
    }

    void frameLogRoundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        FrameLog log;
        log.record(ShownFrame::Held, 0, 11);
        log.record(ShownFrame::Rendered, kFrameNs, 123456789012345);
        QString error;
        const QString path = dir.filePath(QStringLiteral("frames"));
        QVERIFY2(log.write(path, error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append | QIODevice::Text));
        file.write("r 12\nx 1 2\nr 1 2 3\nr a 5\n");
        file.close();
        int bad = 0;
        const std::vector<ShownFrame> read = FrameLog::read(path, error, &bad);
        QCOMPARE(bad, 4);
        QCOMPARE(int(read.size()), 2);
        QCOMPARE(read[0].kind, ShownFrame::Held);
        QCOMPARE(read[1].ptsNs, kFrameNs);
        QCOMPARE(read[1].monoNs, qint64(123456789012345));
        QVERIFY(FrameLog::read(dir.filePath(QStringLiteral("missing")), error).empty());
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_SkewStats)
#include "tst_skewstats.moc"
