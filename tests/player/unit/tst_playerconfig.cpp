// SPDX-License-Identifier: MIT
// A player set up by its configuration file (`multinet-player --config FILE`): every refusal is one line
// that names the file and the line that brings it about (or no line, when the command line or no line at
// all is at fault); the options of the command line win over the file's; the example configurations that
// the tools package ships are taken. And the master's admission of the slaves that --slaves names by IP.
#include "PlayerConfiguration.h"
#include "PlayerTestSupport.h"
#include "SlaveAdmission.h"
#include "StderrCapture.h"

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

const QString kSlave = QStringLiteral("role = slave\nip = 127.0.0.2\nport = 45000\nmaster = 127.0.0.1\n");
const QString kMaster = QStringLiteral("role = master\nip = 127.0.0.1\nport = 45000\nmedia = clip.avi\n");

// The options that the rows of commandLineWinsOverTheFile look at, as one line.
QString summary(const PlayerOptions& options)
{
    static const char* const kinds[] = {"headless", "window", "fullscreen"};
    QStringList keys(options.slaves.begin(), options.slaves.end());
    keys.sort();
    return QStringLiteral("%1 port=%2 output=%3:%4 media=%5 playlist=%6 loop=%7 slaves=%8 ips=%9 label=%10")
        .arg(QLatin1String(options.master ? "master" : "slave"))
        .arg(options.port)
        .arg(QLatin1String(kinds[options.window.kind]), options.window.output, options.media, options.playlist)
        .arg(int(options.loop))
        .arg(keys.join(QLatin1Char(',')), options.slaveIps.join(QLatin1Char(',')), options.label);
}

} // namespace

class tst_PlayerConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // `text` as the file NAME, of mode 0600; its path.
    QString write(const QString& name, const QString& text)
    {
        const QString path = m_dir.filePath(name);
        if (!writeOwnerOnly(path, text.toUtf8()))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    struct Outcome
    {
        std::optional<PlayerOptions> options;
        int exitCode = -1;
        QString printed;  // on standard error
    };

    // What `multinet-player [SUBCOMMAND] --config PATH MORE...` makes of its arguments.
    static Outcome configure(const QString& path, const QStringList& more, const QString& subcommand = QString())
    {
        QStringList arguments{QStringLiteral("multinet-player")};
        if (!subcommand.isEmpty())
            arguments.append(subcommand);
        arguments << QStringLiteral("--config") << path << more;
        if (!namesConfigFile(arguments))
            qFatal("the arguments name no configuration file");
        Outcome outcome;
        StderrCapture capture;
        outcome.options = parseConfiguredPlayer(arguments, outcome.exitCode);
        outcome.printed = capture.finish();
        return outcome;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Where a display is set, the default output would be a window.
        qunsetenv("DISPLAY");
    }

    // Each row: the file (none when empty), and how the one line starts (%1: the file); a row whose line names
    // no file of its own has its fault on the command line ("--port x" there) or nowhere.
    void refusedInOneLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::newRow("no file") << QString() << "%1: cannot read it: ";
        QTest::newRow("a line without '='") << "role = slave\nip = 127.0.0.2\nfullscreen\n" << "%1:3: expected 'key = value', got 'fullscreen'";
        QTest::newRow("an option with its dashes") << "role = slave\n\n--trim-ms = 5\n" << "%1:3: write the option without its dashes: 'trim-ms'";
        QTest::newRow("a key set twice") << "role = slave\nport = 1\n# again\nport = 2\n" << "%1:4: port is set on line 2 already";
        QTest::newRow("a role of neither kind") << "# the left wall\nrole = boss\n" << "%1:2: role takes master or slave, got 'boss'";
        QTest::newRow("no role") << "ip = 127.0.0.2\n" << "%1: no role: add 'role = master' or 'role = slave', or name the subcommand before --config";
        QTest::newRow("a file that names a file") << kSlave + "config = other.conf\n" << "%1:5: 'config' belongs on the command line, not in a configuration file";
        QTest::newRow("a master's key in a slave's file") << kSlave + "slaves = 127.0.0.3\n" << "%1:5: Unknown option 'slaves'.";
        QTest::newRow("a flag's value") << kSlave + "fullscreen = yes\n" << "%1:5: fullscreen takes true or false, got 'yes'";
        QTest::newRow("a slave that is neither an IP nor a key") << kMaster + "slaves = 127.0.0.2, left-pc\n" << "%1:5: --slaves takes ip_pid keys and IPs, got 'left-pc'";
        QTest::newRow("an output without full screen") << kSlave + "output = 1\n" << "%1:5: --output goes with --fullscreen";
        // The trim is fine with the default margin: the line that narrows the margin is at fault.
        QTest::newRow("a margin that rules out the trim") << kSlave + "trim-ms = -120\nmargin-ms = 100\n" << "%1:6: --trim-ms -120: a screen can show its frames at most 50 ms early";
        QTest::newRow("a key file that is not there") << kSlave + "key-file = /nonexistent/group.keys\n" << "%1:5: --key-file /nonexistent/group.keys: ";
        QTest::newRow("the command line's own value") << kSlave << "--port takes a whole number from 1 to 65535, got 'x'";
        QTest::newRow("an option nowhere") << "role = slave\nport = 45000\nmaster = 127.0.0.1\n" << "--ip is missing";
    }
    void refusedInOneLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, line);
        const QString path = text.isEmpty() ? m_dir.filePath("missing.conf") : write(QStringLiteral("%1.conf").arg(QTest::currentDataTag()), text);
        const Outcome outcome = configure(path, line.startsWith("--port") ? QStringList{"--port", "x"} : QStringList());
        QVERIFY(!outcome.options);
        QCOMPARE(outcome.exitCode, 2);
        const QString expected = QStringLiteral("multinet-player: ") + QString(line).replace(QLatin1String("%1"), path);
        QVERIFY2(outcome.printed.startsWith(expected) && outcome.printed.count(QLatin1Char('\n')) == 1,
                 qPrintable(QStringLiteral("expected one line starting '%1', got:\n%2").arg(expected, outcome.printed)));
    }

    // Each row: the file, the subcommand, the command line's options, and what the player makes of them: a
    // slave's whole line, or the words that differ from what the file alone makes of `show`.
    void commandLineWinsOverTheFile_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("subcommand");
        QTest::addColumn<QStringList>("more");
        QTest::addColumn<QString>("options");
        const QString show = kMaster + "slaves = 127.0.0.2, 127.0.0.3_4242 ,127.0.0.4\nfullscreen = true\noutput = 1\nloop = true\n";
        QTest::newRow("a window instead of the full screen") << show << QString() << QStringList{"--window"} << "output=window:";
        QTest::newRow("a playlist instead of the media") << show << QString() << QStringList{"--playlist", "show.txt"} << "media= playlist=show.txt";
        QTest::newRow("the role as the subcommand") << kSlave.mid(kSlave.indexOf('\n') + 1) << "slave" << QStringList()
                                                    << "slave port=45000 output=headless: media= playlist= loop=0 slaves= ips= label=127.0.0.2";
        QTest::newRow("a flag set false, the output before full screen, a label with blanks")
            << kSlave + "output = 1\nfullscreen = true\nheadless = false\nlabel = left wall # not a comment\n" << QString() << QStringList()
            << "slave port=45000 output=fullscreen:1 media= playlist= loop=0 slaves= ips= label=left wall # not a comment";
    }
    void commandLineWinsOverTheFile()
    {
        QFETCH(QString, text);
        QFETCH(QString, subcommand);
        QFETCH(QStringList, more);
        QFETCH(QString, options);
        const Outcome outcome = configure(write("player.conf", text), more, subcommand);
        QVERIFY2(outcome.options && outcome.printed.isEmpty(), qPrintable(outcome.printed));
        // The file's options, with those of the row's words that the command line changed.
        QString expected = "master port=45000 output=fullscreen:1 media=clip.avi playlist= loop=1 slaves=127.0.0.3_4242 ips=127.0.0.2,127.0.0.4 label=master";
        if (options.startsWith("slave"))
            expected = options;
        else
            for (const QString& word : options.split(' '))
                expected.replace(QRegularExpression(" " + word.section('=', 0, 0) + "=[^ ]*"), " " + word);
        QCOMPARE(summary(*outcome.options), expected);
        // A service: its standard input is /dev/null, whose end must not end it.
        QVERIFY(!outcome.options->endsWithInput);
    }

    // The examples name a key file and a token file of a venue: the command line names this test's.
    void shippedExamplesAreTaken()
    {
        const QString keys = write("group.keys", QStringLiteral("1 %1\n").arg(QString(QByteArray(64, 'a'))));
        const QStringList token{"--operator-token-file=" + write("operator.token", "a-token-long-enough-for-a-lan\n")};
        for (const bool master : {true, false}) {
            const Outcome outcome = configure(QStringLiteral(PLAYER_SYSTEMD_DIR "/%1.conf").arg(master ? "master" : "slave"),
                                              QStringList{"--key-file", keys} + (master ? token : QStringList()));
            QVERIFY2(outcome.options && outcome.options->master == master && outcome.options->window.kind == VideoOutput::FullScreen &&
                         outcome.options->keys->path == keys,
                     qPrintable(outcome.printed));
        }
    }

    // newcomers() at `nowUs`, after a call at nowUs - earlierUs with the same reports when earlierUs > 0.
    void plainIpsAdmitEveryProcessOfTheirs_data()
    {
        QTest::addColumn<QStringList>("ips");
        QTest::addColumn<QStringList>("reports");  // "ip_pid@age-ms" as the library keeps them
        QTest::addColumn<QStringList>("admitted");
        QTest::addColumn<QStringList>("roster");
        QTest::addColumn<qint64>("earlierUs");
        QTest::addColumn<QStringList>("admit");
        const QStringList ip{QStringLiteral("10.0.0.2")};
        const QStringList one{QStringLiteral("10.0.0.2_100@0")};
        const QStringList none;
        const QStringList old{QStringLiteral("10.0.0.2_99")};
        QTest::newRow("an IP not listed") << ip << QStringList{"10.0.0.9_100@0"} << none << none << qint64(0) << none;
        QTest::newRow("a key admitted already") << ip << one << QStringList{"10.0.0.2_100"} << none << qint64(0) << none;
        QTest::newRow("a report of a process that may be gone") << ip << QStringList{"10.0.0.2_100@3500"} << none << none << qint64(0) << none;
        // The library may take it in the old one's place; only then would the old one leave the roster.
        QTest::newRow("a newcomer beside a slave of its IP") << ip << one << old << old << qint64(0) << none;
        QTest::newRow("left to the restart rule for its time") << ip << one << old << old << SlaveAdmission::kRestartRuleUs - 1000000 << none;
        QTest::newRow("a second player of that PC") << ip << one << old << old << SlaveAdmission::kRestartRuleUs
                                                    << QStringList{"10.0.0.2_100"};
        QTest::newRow("one held, one of another PC admitted")
            << QStringList{"10.0.0.2", "10.0.0.3"} << QStringList{"10.0.0.2_100@0", "10.0.0.3_7@0"} << old << old << qint64(0)
            << QStringList{"10.0.0.3_7"};
    }
    void plainIpsAdmitEveryProcessOfTheirs()
    {
        QFETCH(QStringList, ips);
        QFETCH(QStringList, reports);
        QFETCH(QStringList, admitted);
        QFETCH(QStringList, roster);
        QFETCH(qint64, earlierUs);
        QFETCH(QStringList, admit);
        constexpr qint64 kNowUs = 100000000;
        auto reportsAt = [&](qint64 atUs) {
            std::vector<NetControlNS::struAddress> kept;
            for (const QString& report : reports) {
                NetControlNS::struAddress entry;
                const QString key = report.section(QLatin1Char('@'), 0, 0);
                entry.ip = key.section(QLatin1Char('_'), 0, 0).toStdString();
                entry.processId = key.section(QLatin1Char('_'), 1).toInt();
                entry.lastOnlineTime = atUs - report.section(QLatin1Char('@'), 1).toLongLong() * 1000;
                kept.push_back(entry);
            }
            return kept;
        };
        const QSet<QString> admittedSet(admitted.begin(), admitted.end());
        SlaveAdmission admission(ips);
        if (earlierUs > 0)
            QCOMPARE(admission.newcomers(reportsAt(kNowUs - earlierUs), admittedSet, roster, kNowUs - earlierUs), QStringList());
        QCOMPARE(admission.newcomers(reportsAt(kNowUs), admittedSet, roster, kNowUs), admit);
    }
};

QTEST_GUILESS_MAIN(tst_PlayerConfig)
#include "tst_playerconfig.moc"
