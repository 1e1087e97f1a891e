// SPDX-License-Identifier: MIT
// The host kit's parts that can break: event lines read back as written, standard input handed over
// line by line in order, a child process's start and its reasons for failing, table columns, the
// loopback plan, the event-loop waits, and key files: their lines, their modes, and their reading again
// on SIGHUP. The children are this program again, with an argument.
#include "EventLine.h"
#include "EventLoopWait.h"
#include "HostProcess.h"
#include "KeyFile.h"
#include "KeyFileReload.h"
#include "LoopbackPlan.h"
#include "StdinLines.h"
#include "TextTable.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QString kChildArgument = QStringLiteral("--child");
constexpr int kChildMs = 15000;

// The children: "echo-input" prints each input line and the end; "ready" prints a ready line and answers
// each input line until "quit"; "deaf" is ready and ignores its input; "refuses" says why it cannot run
// and exits 3; "mute" prints nothing and waits.
int runChild(const QString& mode)
{
    std::optional<StdinLines> input;
    if (mode == QLatin1String("echo-input")) {
        input.emplace([](const QString& line) { printOutputLine(QStringLiteral("line:") + line); },
                      [] {
                          printOutputLine(QStringLiteral("end"));
                          QCoreApplication::quit();
                      });
    } else if (mode == QLatin1String("ready") || mode == QLatin1String("deaf")) {
        EventLine(QStringLiteral("ready")).add(QStringLiteral("mode"), mode).print();
        printOutputLine(QStringLiteral("a line that is not an event"));
        const bool deaf = mode == QLatin1String("deaf");
        input.emplace(
            [deaf](const QString& line) {
                if (deaf)
                    return;
                if (line == QLatin1String("quit"))
                    QCoreApplication::quit();
                else
                    EventLine(QStringLiteral("echo")).add(QStringLiteral("text"), line).print();
            },
            [] {});
    } else if (mode == QLatin1String("refuses")) {
        printOutputLine(QStringLiteral("tst_hostkit: cannot listen: the port is taken"));
        printOutputLine(QStringLiteral("~MultiNetControl()"));
        return 3;
    } else if (mode != QLatin1String("mute")) {
        return 2;
    }
    return QCoreApplication::exec();
}

HostProcess child(const QString& mode)
{
    return HostProcess(QStringLiteral("child"), {kChildArgument, mode}, false);
}

// 64 hex digits: a key of 32 bytes `c`.
QByteArray hexKey(char c)
{
    return QByteArray(KeyFile::kKeyBytes, c).toHex();
}

// Writes `text` to `path`, readable by its owner only.
bool writeKeyFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && file.write(text) == text.size();
}

} // namespace

class tst_HostKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eventLinesReadBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("plain") << "cmd1" << "cmd1";
        QTest::newRow("blanks become underscores") << "not  found here" << "not__found_here";
        QTest::newRow("an equals sign inside") << "uri=file:///a=b" << "uri=file:///a=b";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("non-ASCII") << QStringLiteral("caf\u00e9") << QStringLiteral("caf\u00e9");
    }
    void eventLinesReadBackAsWritten()
    {
        QFETCH(QString, value);
        QFETCH(QString, readBack);
        EventLine line(QStringLiteral("session"));
        line.add(QStringLiteral("detail"), value).add(QStringLiteral("count"), qint64(-42)).add(QStringLiteral("ok"), true);
        line.add(QStringLiteral("share"), 0.98765, 2);
        const std::optional<EventLine> parsed = EventLine::parse(line.text());
        QVERIFY2(parsed, qPrintable(line.text()));
        QCOMPARE(parsed->event(), QStringLiteral("session"));
        QVERIFY(parsed->has(QStringLiteral("detail")));
        QCOMPARE(parsed->value(QStringLiteral("detail")), readBack);
        QCOMPARE(parsed->integer(QStringLiteral("count")), qint64(-42));
        QCOMPARE(parsed->integer(QStringLiteral("ok")), qint64(1));
        QCOMPARE(parsed->real(QStringLiteral("share")), 0.99);
        QCOMPARE(parsed->integer(QStringLiteral("detail"), -1), qint64(-1));  // not a number: the fallback
        QVERIFY(!parsed->has(QStringLiteral("missing")));
        QCOMPARE(parsed->real(QStringLiteral("missing"), 7.5), 7.5);
    }

    void otherLinesAreNoEvents_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("a library line") << "MultiNetControl::setMasterFlag master = 1";
        QTest::newRow("the prefix alone") << "[demo] ";
        QTest::newRow("the prefix and blanks") << "[demo]    ";
        QTest::newRow("the prefix without its blank") << "[demo]ready";
        QTest::newRow("the prefix further in") << "slave | [demo] ready";
    }
    void otherLinesAreNoEvents()
    {
        QFETCH(QString, line);
        QVERIFY(!EventLine::parse(line));
    }

    void wordsWithoutAKeyAreSkipped()
    {
        const std::optional<EventLine> parsed = EventLine::parse(QStringLiteral("[demo] ready  stray =nokey ip=127.0.0.2"));
        QVERIFY(parsed);
        QCOMPARE(parsed->event(), QStringLiteral("ready"));
        QCOMPARE(parsed->value(QStringLiteral("ip")), QStringLiteral("127.0.0.2"));
        QVERIFY(!parsed->has(QStringLiteral("stray")) && !parsed->has(QString()));
    }

    void inputLinesComeInOrderThenTheEnd()
    {
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(), {kChildArgument, QStringLiteral("echo-input")});
        QVERIFY2(process.waitForStarted(kChildMs), qPrintable(process.errorString()));
        QByteArray expected;
        QByteArray input = "  padded  \n\nlast without a newline";
        expected = "line:padded\nline:\n";
        for (int i = 0; i < 2000; ++i) {
            input.prepend(QByteArray::number(1999 - i) + '\n');
            expected.prepend("line:" + QByteArray::number(1999 - i) + '\n');
        }
        expected += "line:last without a newline\nend\n";
        process.write(input);
        process.closeWriteChannel();
        QVERIFY2(process.waitForFinished(kChildMs), "the child did not end with its input");
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), expected);
    }

    void childProcessStarts()
    {
        HostProcess ready = child(QStringLiteral("ready"));
        QVERIFY2(ready.start(kChildMs), qPrintable(ready.startFailure()));
        QVERIFY(ready.ready() && ready.running() && ready.pid() > 0);
        QCOMPARE(ready.readyLine().value(QStringLiteral("mode")), QStringLiteral("ready"));
        ready.send(QStringLiteral("hello there"));
        const int echo = ready.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("echo"); }, kChildMs);
        QVERIFY2(echo == 1, qPrintable(ready.recentOutput()));
        QCOMPARE(ready.events()[1].value(QStringLiteral("text")), QStringLiteral("hello_there"));
        QVERIFY(ready.recentOutput().contains(QLatin1String("a line that is not an event")));
        QVERIFY2(ready.finish(kChildMs), qPrintable(ready.recentOutput()));
        QVERIFY(!ready.running());
        // An ended process matches nothing more, at once.
        QCOMPARE(ready.waitForEvent([](const EventLine&) { return true; }, kChildMs, 2), -1);
    }

    void childProcessFailures_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("its own last words") << "refuses" << "it ended with status 3: tst_hostkit: cannot listen: the port is taken";
        QTest::newRow("no ready line in time") << "mute" << "not ready within 300 ms";
        QTest::newRow("an unknown mode") << "nonsense" << "it ended with status 2: nothing";
    }
    void childProcessFailures()
    {
        QFETCH(QString, mode);
        QFETCH(QString, reason);
        HostProcess failing = child(mode);
        QVERIFY(!failing.start(300));
        QVERIFY(!failing.ready());
        QCOMPARE(failing.startFailure(), reason);
    }

    void programThatCannotStart()
    {
        HostProcess missing(QStringLiteral("missing"), {}, false, QStringLiteral("/nonexistent/program"));
        QVERIFY(!missing.start(kChildMs));
        QVERIFY2(missing.startFailure().startsWith(QLatin1String("could not start: ")), qPrintable(missing.startFailure()));
    }

    void childThatIgnoresQuitIsKilled()
    {
        HostProcess deaf = child(QStringLiteral("deaf"));
        QVERIFY2(deaf.start(kChildMs), qPrintable(deaf.startFailure()));
        QVERIFY(!deaf.finish(300));
        QVERIFY(!deaf.running());
        QVERIFY2(deaf.recentOutput().contains(QLatin1String("did not end within 300 ms of 'quit'; killed")),
                 qPrintable(deaf.recentOutput()));
    }

    void tableColumnsAlign()
    {
        TextTable table({QStringLiteral("player"), QStringLiteral("frames"), QStringLiteral("note")});
        table.addRow({QStringLiteral("master 127.0.0.1"), QStringLiteral("77"), QStringLiteral("reference")});
        table.addRow({QStringLiteral("s2"), QStringLiteral("1234567")});  // a short row: its last cell is empty
        const QStringList expected{
            QStringLiteral("player            frames   note"),
            QStringLiteral("----------------  -------  ---------"),
            QStringLiteral("master 127.0.0.1  77       reference"),
            QStringLiteral("s2                1234567"),
        };
        QCOMPARE(table.lines(), expected);
    }

    void loopbackPlan()
    {
        QCOMPARE(loopbackSlaveIp(0), QStringLiteral("127.0.0.2"));
        QCOMPARE(loopbackSlaveIp(15), QStringLiteral("127.0.0.17"));
        // Each slave's clock is off by a different amount, far enough apart to tell which one a skew shows.
        QSet<qint64> offsets;
        for (int i = 0; i < 16; ++i) {
            const qint64 offset = injectedOffsetUs(i);
            QVERIFY2(std::llabs(offset) >= 2500, qPrintable(QString::number(offset)));
            QVERIFY2(i == 0 || (offset > 0) != (injectedOffsetUs(i - 1) > 0), "offsets do not alternate");
            offsets.insert(offset);
        }
        QCOMPARE(offsets.size(), 16);
        const quint16 port = pickFreePort();
        QVERIFY(port != 0);
        QUdpSocket socket;
        QVERIFY2(socket.bind(QHostAddress(QLatin1String(kLoopbackMasterIp)), port), qPrintable(socket.errorString()));
    }

    void keyFileLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("ids");    // of the keys taken, the signing one first
        QTest::addColumn<QString>("error");  // when refused
        const QByteArray a = hexKey('a');
        const QByteArray b = hexKey('b');
        QTest::newRow("one key") << "7 " + a + "\n" << "7" << "";
        QTest::newRow("two keys among comments, blank lines, tabs and CRLF")
            << "# the show's keys\r\n\n\t2\t" + b.toUpper() + "  # new\r\n1 " + a << "2,1" << "";
        QTest::newRow("ids 1 and 255") << "255 " + b + "\n1 " + a << "255,1" << "";
        QTest::newRow("no key") << QByteArray("# none yet\n\n") << "" << "no key in it";
        QTest::newRow("empty") << QByteArray() << "" << "no key in it";
        QTest::newRow("id 0") << "0 " + a << "" << "line 1: the key id must be a whole number from 1 to 255";
        QTest::newRow("id 256") << "\n256 " + a << "" << "line 2: the key id must be";
        QTest::newRow("a signed id") << "+3 " + a << "" << "line 1: the key id must be";
        QTest::newRow("a key without its id") << a << "" << "line 1: expected a key id and a key of 64 hex digits";
        QTest::newRow("id and key swapped") << a + " 3" << "" << "line 1: the key id must be";
        QTest::newRow("a third word") << "3 " + a + " 4" << "" << "line 1: expected a key id";
        QTest::newRow("63 digits") << "3 " + a.left(63) << "" << "line 1: the key must be 64 hex digits (32 bytes), it has 63";
        QTest::newRow("a key in base64") << "3 " + QByteArray(KeyFile::kKeyBytes, 'a').toBase64() << ""
                                         << "line 1: the key must be 64 hex digits";
        QTest::newRow("not a hex digit") << "3 " + a.left(63) + "g" << "" << "line 1: the key holds a character that is not";
        QTest::newRow("one id twice") << "3 " + a + "\n3 " + b << "" << "line 2: key id 3 a second time";
        QTest::newRow("a third key") << "1 " + a + "\n2 " + b + "\n3 " + a << "" << "line 3: a third key";
    }
    void keyFileLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, ids);
        QFETCH(QString, error);
        QString why;
        const std::optional<std::vector<KeyFile::Key>> keys = KeyFile::parse(text, why);
        QCOMPARE(bool(keys), error.isEmpty());
        if (keys) {
            const KeyFile file{QString(), *keys};
            QCOMPARE(file.ids(), ids);
            QCOMPARE(QByteArray::fromStdString(keys->back().secret), QByteArray(KeyFile::kKeyBytes, 'a'));
        } else {
            QVERIFY2(why.startsWith(error), qPrintable(why));
        }
        // Whatever is wrong, no part of a key reaches the message.
        for (char c : {'a', 'b'})
            QVERIFY2(!why.contains(QLatin1String(hexKey(c).left(8)), Qt::CaseInsensitive), qPrintable(why));
    }

    void keyFileModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("error");
        QTest::newRow("0600") << 0600 << "";
        QTest::newRow("0400") << 0400 << "";
        QTest::newRow("0640: a group reads it") << 0640 << "";
        QTest::newRow("0644") << 0644 << "its mode 0644 lets anyone read it: make it 0600, or 0640";
        QTest::newRow("0604") << 0604 << "its mode 0604 lets anyone read it";
        QTest::newRow("0660: a group changes it") << 0660 << "its mode 0660 lets others change it";
        QTest::newRow("0602") << 0602 << "its mode 0602 lets others change it";
    }
    void keyFileModes()
    {
#ifdef Q_OS_UNIX
        QFETCH(int, mode);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keys"));
        QVERIFY(writeKeyFile(path, "1 " + hexKey('a')));
        QCOMPARE(chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        QString why;
        const std::optional<KeyFile> file = KeyFile::read(path, why);
        QVERIFY2(file ? error.isEmpty() && file->path == path : why.startsWith(error), qPrintable(why));
#else
        QSKIP("no POSIX file modes here");
#endif
    }

    void keyFilesThatAreNone()
    {
        QTemporaryDir dir;
        QString why;
        QVERIFY(!KeyFile::read(dir.filePath(QStringLiteral("missing")), why));
        QVERIFY2(why.startsWith(QLatin1String("cannot read it: ")), qPrintable(why));
        const QString large = dir.filePath(QStringLiteral("large"));
        QVERIFY(writeKeyFile(large, "1 " + hexKey('a') + "\n" + QByteArray(64 * 1024, '#')));
        QVERIFY(!KeyFile::read(large, why));
        QVERIFY2(why.startsWith(QLatin1String("longer than 65536 bytes")), qPrintable(why));
#ifdef Q_OS_UNIX
        QVERIFY(!KeyFile::read(dir.path(), why));
        QVERIFY2(why.contains(QLatin1String("regular file")) || why.startsWith(QLatin1String("cannot read it")), qPrintable(why));
#endif
    }

    void keyFileReadAgainOnHangUp()
    {
#ifdef SIGHUP
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keys"));
        QVERIFY(writeKeyFile(path, "1 " + hexKey('a')));
        QString why;
        const std::optional<KeyFile> first = KeyFile::read(path, why);
        QVERIFY2(first, qPrintable(why));
        std::vector<QString> applied;
        KeyFileReload reload(*first, QStringLiteral("tst_hostkit"), [&applied](const std::vector<KeyFile::Key>& keys) {
            const KeyFile file{QString(), keys};
            applied.push_back(file.ids());
        });
        QCOMPARE(applied, std::vector<QString>{QStringLiteral("1")});  // at once

        QVERIFY(writeKeyFile(path, "2 " + hexKey('b') + "\n1 " + hexKey('a')));
        std::raise(SIGHUP);
        QVERIFY(runEventLoopUntil([&applied] { return applied.size() == 2; }));
        QCOMPARE(applied.back(), QStringLiteral("2,1"));

        // A bad file, or one that others may read, leaves the keys in force.
        QVERIFY(writeKeyFile(path, "2 " + hexKey('b').left(10)));
        std::raise(SIGHUP);
        runEventLoopFor(100);
        QVERIFY(writeKeyFile(path, "2 " + hexKey('b')));
        QVERIFY(QFile(path).setPermissions(QFile(path).permissions() | QFileDevice::ReadOther));
        std::raise(SIGHUP);
        runEventLoopFor(100);
        QCOMPARE(applied.size(), std::size_t(2));
#else
        QSKIP("no SIGHUP here");
#endif
    }

    void eventLoopWaits()
    {
        bool fired = false;
        QTimer::singleShot(10, [&fired] { fired = true; });
        QVERIFY2(runEventLoopUntil([&fired] { return fired; }, kChildMs), "a timer did not fire while waiting");
        QVERIFY(!runEventLoopUntil([] { return false; }, 20));
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == kChildArgument)
        return runChild(QString::fromLocal8Bit(argv[2]));
    tst_HostKit test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_hostkit.moc"
