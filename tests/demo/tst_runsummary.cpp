// SPDX-License-Identifier: MIT
// The closing table of `multinet-demo run`: a latency below zero cannot happen (a callback comes after
// its send), so it must never pass for a fast one.
#include "RunSummary.h"

#include <QTest>

namespace {

EventLine received(const char* tag, qint64 monoUs)
{
    EventLine line(QStringLiteral("received"));
    line.add(QStringLiteral("command"), "step").add(QStringLiteral("user-data"), tag).add(QStringLiteral("mono-us"), monoUs);
    return line;
}

} // namespace

class tst_RunSummary : public QObject
{
    Q_OBJECT
private slots:
    void negativeLatencyIsFlagged_data();
    void negativeLatencyIsFlagged();
};

void tst_RunSummary::negativeLatencyIsFlagged_data()
{
    QTest::addColumn<qint64>("secondReceivedAtUs");
    QTest::addColumn<qint64>("worstUs");
    QTest::addColumn<bool>("possible");
    QTest::newRow("after its send") << qint64(2400) << qint64(400) << true;
    QTest::newRow("at its send") << qint64(2000) << qint64(300) << true;
    QTest::newRow("before its send") << qint64(1950) << qint64(-50) << false;
}

void tst_RunSummary::negativeLatencyIsFlagged()
{
    QFETCH(qint64, secondReceivedAtUs);
    QFETCH(qint64, worstUs);
    QFETCH(bool, possible);
    const std::vector<SentCommand> sent{{QStringLiteral("step"), QStringLiteral("cmd1"), 1000},
                                        {QStringLiteral("step"), QStringLiteral("cmd2"), 2000}};
    const std::vector<EventLine> events{received("cmd1", 1300), received("cmd2", secondReceivedAtUs)};
    const std::vector<SlaveRecord> slaves{{QStringLiteral("127.0.0.2"), 42, QStringLiteral("0"), 0, &events}};
    const RunSummary summary(sent, slaves, {});

    std::vector<qint64> all = RunSummary::latenciesOf(sent[0], slaves);
    const std::vector<qint64> second = RunSummary::latenciesOf(sent[1], slaves);
    all.insert(all.end(), second.begin(), second.end());
    QCOMPARE(RunSummary::worst(all), worstUs);
    QCOMPARE(summary.everyLatencyPossible(), possible);
    QCOMPARE(summary.tableLines().join(QLatin1Char('\n')).contains(QLatin1String("IMPOSSIBLE")), !possible);
}

QTEST_GUILESS_MAIN(tst_RunSummary)
#include "tst_runsummary.moc"
