// SPDX-License-Identifier: MIT
// The presentation figures of a slave's health reports: the lateness of the frames of the last 10 s (median
// and 99th percentile, in us), every frame shown counted, and the frames of one time line that were never
// shown counted as dropped.
#include "PresentationMeter.h"

#include <QtTest>

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kSecond = 1000 * kMs;
constexpr qint64 kFrameNs = 33333333;

} // namespace

class tst_PresentationMeter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void latenessOverTheLastTenSeconds()
    {
        PresentationMeter meter;
        // 20 s of frames at 30 fps: 100 us late in the first 10 s, 10 us late after, one of 200 us.
        qint64 index = 0;
        for (qint64 t = 0; t < 20 * kSecond; t += kFrameNs, ++index)
            meter.add(t, t < 10 * kSecond ? 100000 : (index == 450 ? 200000 : 10000), 1, index);
        const NetControlNS::struPresentation figures = meter.figures(20 * kSecond);
        QVERIFY(figures.lateP50Us == 10 && figures.lateP99Us == 10 && figures.framesShown == index && figures.framesDropped == 0);
        QCOMPARE(meter.figures(40 * kSecond).lateP99Us, qint64(0));  // none within the window
    }

    void framesMissingFromATimeLineAreDropped()
    {
        PresentationMeter meter;
        meter.add(0, 0, 1, 0);
        meter.add(kFrameNs, 0, 1, 1);
        meter.add(4 * kFrameNs, -5000, 1, 4);  // 2 and 3 never shown
        meter.add(5 * kFrameNs);               // a held frame: counted only
        meter.add(6 * kFrameNs, 0, 2, 0);      // another time line (a seek) starts anew
        meter.add(7 * kFrameNs, 0, 2, 3);      // 1 and 2 of it never shown
        const NetControlNS::struPresentation figures = meter.figures(8 * kFrameNs);
        QVERIFY(figures.framesShown == 6 && figures.framesDropped == 4 && figures.lateP50Us == 0 && figures.lateP99Us == 0);
    }
};

QTEST_GUILESS_MAIN(tst_PresentationMeter)
#include "tst_presentationmeter.moc"
