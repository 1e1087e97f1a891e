// SPDX-License-Identifier: MIT
#include "MultiNetControl.h"

#include "common/LogFloodGate.h"
#include "common/LogLine.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <mutex>
#include <string>
#include <vector>

using tamo::detail::LineRate;
using tamo::detail::LogFloodGate;
using tamo::detail::logLine;

namespace {

constexpr int kBurst = LogFloodGate::kLinesPerSecond;
const char* const kPrintDefaultArgument = "--print-default-lines";

// What a host's handler saw.
std::mutex g_linesMutex;
std::vector<std::string> g_lines;  // guarded by g_linesMutex

void recordLine(const char* line)
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.emplace_back(line);
}

std::vector<std::string> takeLines()
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    return std::move(g_lines);
}

// Installs recordLine for one test, with the flood limit started afresh.
struct RecordingHandler
{
    RecordingHandler()
    {
        takeLines();
        LogFloodGate::processWide().reset();
        previous = NetControlNS::installLogHandler(recordLine);
    }
    ~RecordingHandler() { NetControlNS::installLogHandler(previous); }
    NetControlNS::LogHandler previous;
};

int admitted(LogFloodGate& gate, const char* kind, int count, qint64 nowMs,
             std::vector<std::string>* summaries = nullptr, std::string_view sender = {})
{
    int printed = 0;
    for (int i = 0; i < count; ++i) {
        LogFloodGate::Verdict verdict = gate.admit(kind, nowMs, sender);
        printed += verdict.print ? 1 : 0;
        if (summaries)
            summaries->insert(summaries->end(), verdict.summaries.begin(), verdict.summaries.end());
    }
    return printed;
}

} // namespace

class tst_LogLine : public QObject
{
    Q_OBJECT

private slots:
    void floodGateCountsPerKindAndSecond();
    void floodGateSummarisesEndedSeconds();
    void decoysOfOneSenderLeaveOthersTheirLines();
    void handlerGetsExactLinesAndCanBeSwapped();
    void withoutHandlerLinesGoToStdout();
};

void tst_LogLine::floodGateCountsPerKindAndSecond()
{
    LogFloodGate gate;
    QCOMPARE(admitted(gate, "flood %d\n", 3 * kBurst, 0), kBurst);
    // Another kind has its own count in the same second.
    QCOMPARE(admitted(gate, "other %d\n", kBurst, 500), kBurst);
    QCOMPARE(admitted(gate, "flood %d\n", 5, 999), 0);
    // A new second starts with the first line seen after the old one ended.
    QCOMPARE(admitted(gate, "flood %d\n", 2 * kBurst, 1000), kBurst);
    QCOMPARE(admitted(gate, "flood %d\n", 1, 1999), 0);
}

void tst_LogLine::floodGateSummarisesEndedSeconds()
{
    LogFloodGate gate;
    std::vector<std::string> summaries;
    admitted(gate, "incomplete %s_%d!\n", kBurst + 25, 100, &summaries);
    admitted(gate, "quiet\n", 1, 1099, &summaries);
    QVERIFY(summaries.empty());  // the second of the flood has not ended yet

    // Any line after the end brings the summary, once, before itself.
    admitted(gate, "quiet\n", 1, 1100, &summaries);
    admitted(gate, "quiet\n", 1, 1500, &summaries);
    QCOMPARE(summaries, std::vector<std::string>{"logLine: 25 more lines like \"incomplete %s_%d!\" were left out "
                                                 "within one second (at most 10 alike are printed a second)\n"});

    // A flood that goes on gives one summary per second, each with its own count.
    summaries.clear();
    for (qint64 second = 2; second < 5; ++second)
        admitted(gate, "incomplete %s_%d!\n", kBurst + int(second), second * 1000, &summaries);
    admitted(gate, "quiet\n", 1, 6000, &summaries);
    QCOMPARE(summaries.size(), std::size_t(3));
    QVERIFY(summaries[0].find("logLine: 2 more lines like \"incomplete %s_%d!\"") == 0);
    QVERIFY(summaries[2].find("logLine: 4 more lines like \"incomplete %s_%d!\"") == 0);
}

// A forger's decoys from one address must not use up the lines that show another address's datagrams, and
// the summary says where the flood came from.
void tst_LogLine::decoysOfOneSenderLeaveOthersTheirLines()
{
    LogFloodGate gate;
    std::vector<std::string> summaries;
    QCOMPARE(admitted(gate, "other master's(ip:%s)\n", 5 * kBurst, 0, &summaries, "10.0.0.66"), kBurst);
    QCOMPARE(admitted(gate, "other master's(ip:%s)\n", 2, 10, &summaries, "10.0.0.7"), 2);
    QCOMPARE(admitted(gate, "other master's(ip:%s)\n", 1, 1000, &summaries, "10.0.0.7"), 1);
    QCOMPARE(int(summaries.size()), 1);
    QVERIFY2(summaries[0].find("; most from 10.0.0.66 (40)\n") != std::string::npos, summaries[0].c_str());
}

void tst_LogLine::handlerGetsExactLinesAndCanBeSwapped()
{
    RecordingHandler handler;
    QVERIFY(NetControlNS::installLogHandler(recordLine) == &recordLine);  // returns the one before

    logLine("MultiNetControl::setGroupId group_id = %d\n", -3);
    logLine("%s\n", std::string(2000, 'x').c_str());  // longer than any fixed buffer
    logLine("%s", "");                                 // nothing to say: no call
    // A flood of one limited kind holds back neither the lines printed at any rate around it nor a limited
    // line of another text: a bare "%s" format is told apart by its text.
    for (int i = 0; i < 2 * kBurst; ++i) {
        logLine(LineRate::FloodLimited, "%s", "maybe incomplete!\n");
        logLine("%s", "send step to slave!\n");
    }
    logLine(LineRate::FloodLimited, "%s", "send start to slave.\n");

    const std::vector<std::string> lines = takeLines();
    QCOMPARE(lines.size(), std::size_t(2 + kBurst + 2 * kBurst + 1));
    QCOMPARE(lines[0], std::string("MultiNetControl::setGroupId group_id = -3\n"));
    QCOMPARE(lines[1], std::string(2000, 'x') + "\n");
    QCOMPARE(lines.back(), std::string("send start to slave.\n"));
}

// The parent's view of a child that logs without a handler: the texts, letter for letter, on stdout.
void tst_LogLine::withoutHandlerLinesGoToStdout()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kPrintDefaultArgument)});
    QVERIFY2(child.waitForFinished(30000), qPrintable(child.errorString()));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardOutput(),
             QByteArray("MultiNetControl::setMasterFlag master = 1\nsend step to slave!\n~MultiNetControl() \n"));
    QCOMPARE(child.readAllStandardError(), QByteArray());
}

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], kPrintDefaultArgument) == 0) {
        logLine("MultiNetControl::setMasterFlag master = %d\n", 1);
        logLine("%s", "send step to slave!\n");
        NetControlNS::installLogHandler(recordLine);
        logLine("handled elsewhere\n");
        NetControlNS::installLogHandler(nullptr);
        logLine("~MultiNetControl() \n");
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_LogLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logline.moc"
