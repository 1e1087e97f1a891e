// SPDX-License-Identifier: MIT
// The host kit's parts that can break: event lines read back as written, standard input handed over
// line by line in order, a child process's reasons for failing, and key files: their lines and their modes
// (a child's start and events, and the reading again of a key file on SIGHUP, run in every session of
// tst_demokeys). The children are this program again, with an argument.
#include "EventLine.h"
#include "HostProcess.h"
#include "KeyFile.h"
#include "StdinLines.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QString kChildArgument = QStringLiteral("--child");
constexpr int kChildMs = 15000;

// The children: "echo-input" prints each input line and the end; "refuses" says why it cannot run and exits
// 3; any other prints nothing and waits.
int runChild(const QString& mode)
{
    std::optional<StdinLines> input;
    if (mode == QLatin1String("echo-input")) {
        input.emplace([](const QString& line) { printOutputLine(QStringLiteral("line:") + line); },
                      [] { printOutputLine(QStringLiteral("end")), QCoreApplication::quit(); });
    } else if (mode == QLatin1String("refuses")) {
        printOutputLine(QStringLiteral("tst_hostkit: cannot listen: the port is taken"));
        printOutputLine(QStringLiteral("~MultiNetControl()"));
        return 3;
    }
    return QCoreApplication::exec();
}

HostProcess child(const QString& mode, const QString& program = QString())
{
    return HostProcess(QStringLiteral("child"), {kChildArgument, mode}, false, program);
}

// 64 hex digits: a key of 32 bytes `c`.
QByteArray hexKey(char c) { return QByteArray(KeyFile::kKeyBytes, c).toHex(); }

QString idsOf(const std::vector<KeyFile::Key>& keys) { return KeyFile{QString(), keys}.ids(); }

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
        QCOMPARE(parsed->event() + " " + parsed->value(QStringLiteral("detail")), "session " + readBack);
        QVERIFY(parsed->integer(QStringLiteral("count")) == -42 && parsed->integer(QStringLiteral("ok")) == 1);
        QCOMPARE(parsed->real(QStringLiteral("share")), 0.99);
        QCOMPARE(parsed->integer(QStringLiteral("detail"), -1), qint64(-1));  // not a number: the fallback
    }

    // Words without a key are skipped; a line that print() did not write is no event.
    void linesRead_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("fields");  // event|key=value..., empty for no event
        QTest::newRow("stray words") << "[demo] ready  stray =nokey ip=127.0.0.2" << "ready|ip=127.0.0.2";
        QTest::newRow("the prefix without its blank") << "[demo]ready" << "";
        QTest::newRow("the prefix further in") << "slave | [demo] ready" << "";
    }
    void linesRead()
    {
        QFETCH(QString, line);
        QFETCH(QString, fields);
        const std::optional<EventLine> parsed = EventLine::parse(line);
        QCOMPARE(parsed ? parsed->event() + "|ip=" + parsed->value("ip") : QString(), fields);
        QVERIFY(!parsed || (!parsed->has(QStringLiteral("stray")) && !parsed->has(QString())));
    }

    void inputLinesComeInOrderThenTheEnd()
    {
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(), {kChildArgument, QStringLiteral("echo-input")});
        QVERIFY2(process.waitForStarted(kChildMs), qPrintable(process.errorString()));
        QByteArray input, expected;
        for (int i = 0; i < 2000; ++i)
            input += QByteArray::number(i) + '\n', expected += "line:" + QByteArray::number(i) + '\n';
        process.write(input + "  padded  \n\nlast without a newline");
        expected += "line:padded\nline:\nline:last without a newline\nend\n";
        process.closeWriteChannel();
        QVERIFY2(process.waitForFinished(kChildMs) && process.exitCode() == 0, "the child did not end well with its input");
        QCOMPARE(process.readAllStandardOutput(), expected);
    }

    void childProcessFailures_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("its own last words") << "refuses" << "it ended with status 3: tst_hostkit: cannot listen: the port is taken";
        QTest::newRow("no ready line in time") << "mute" << "not ready within 300 ms";
        QTest::newRow("no such program") << "" << "could not start: ";
    }
    void childProcessFailures()
    {
        QFETCH(QString, mode);
        QFETCH(QString, reason);
        HostProcess failing = child(mode, mode.isEmpty() ? QStringLiteral("/nonexistent/program") : QString());
        QVERIFY(!failing.start(300) && !failing.ready());
        QVERIFY2(failing.startFailure().startsWith(reason), qPrintable(failing.startFailure()));
    }

    void keyFileLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("ids");    // of the keys taken, the signing one first
        QTest::addColumn<QString>("error");  // when refused
        const QByteArray a = hexKey('a');
        const QByteArray b = hexKey('b');
        QTest::newRow("one key") << "7 " + a + "\n" << "7" << "";
        QTest::newRow("ids 255 and 1 among comments, blank lines, tabs and CRLF")
            << "# the show's keys\r\n\n\t255\t" + b.toUpper() + "  # new\r\n1 " + a << "255,1" << "";
        QTest::newRow("no key") << QByteArray("# none yet\n\n") << "" << "no key in it";
        QTest::newRow("id 0") << "0 " + a << "" << "line 1: the key id must be a whole number from 1 to 255";
        QTest::newRow("id 256") << "\n256 " + a << "" << "line 2: the key id must be";
        QTest::newRow("a signed id") << "+3 " + a << "" << "line 1: the key id must be";
        QTest::newRow("a key without its id") << a << "" << "line 1: expected a key id and a key of 64 hex digits";
        QTest::newRow("63 digits") << "3 " + a.left(63) << "" << "line 1: the key must be 64 hex digits (32 bytes), it has 63";
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
        QVERIFY2(keys ? idsOf(*keys) == ids : why.startsWith(error), qPrintable(why));
        QVERIFY(!keys || QByteArray::fromStdString(keys->back().secret) == QByteArray(KeyFile::kKeyBytes, 'a'));
        // Whatever is wrong, no part of a key reaches the message.
        for (char c : {'a', 'b'})
            QVERIFY2(!why.contains(QLatin1String(hexKey(c).left(8)), Qt::CaseInsensitive), qPrintable(why));
    }

    // Modes: a group may read the file, nobody else; nobody but the owner may change it. Files that are none.
    void keyFileRead_data()
    {
        QTest::addColumn<QByteArray>("text");  // null: no file
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("error");
        const QByteArray key = "1 " + hexKey('a');
        QTest::newRow("0640: a group reads it") << key << 0640 << "";
        QTest::newRow("0644") << key << 0644 << "its mode 0644 lets anyone read it: make it 0600, or 0640";
        QTest::newRow("0660: a group changes it") << key << 0660 << "its mode 0660 lets others change it";
        QTest::newRow("missing") << QByteArray() << 0600 << "cannot read it: ";
        QTest::newRow("too long") << key + "\n" + QByteArray(64 * 1024, '#') << 0600 << "longer than 65536 bytes";
    }
    void keyFileRead()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keys"));
        QVERIFY(text.isNull() || writeKeyFile(path, text));
#ifdef Q_OS_UNIX
        QVERIFY(text.isNull() || chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
#else
        if (mode != 0600)
            QSKIP("no POSIX file modes here");
#endif
        QString why;
        const std::optional<KeyFile> file = KeyFile::read(path, why);
        QVERIFY2(file ? error.isEmpty() && file->path == path : why.startsWith(error), qPrintable(why));
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
