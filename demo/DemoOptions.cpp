// SPDX-License-Identifier: MIT
#include "DemoOptions.h"

#include "EventLine.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <cstdio>
#include <limits>

namespace {

constexpr int kUsageError = 2;
constexpr int kMaxRunSlaves = 50;  // slaves get 127.0.0.2 onwards; fifty processes are plenty for a demo

// A parse in progress: the first bad value is reported, later ones are not looked at.
class OptionReader
{
public:
    explicit OptionReader(QCommandLineParser& parser) : m_parser(parser) {}

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }

    QString required(const QString& name)
    {
        if (ok() && !m_parser.isSet(name))
            fail(QStringLiteral("--%1 is missing").arg(name));
        return m_parser.value(name);
    }

    QString ipv4(const QString& name)
    {
        const QString text = required(name);
        QHostAddress address;
        if (ok() && (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol
                     || address.toString() != text))
            fail(QStringLiteral("--%1 must be an IPv4 address such as 192.168.1.20, got '%2'").arg(name, text));
        return text;
    }

    qint64 integer(const QString& name, qint64 min, qint64 max, qint64 fallback)
    {
        if (!ok() || !m_parser.isSet(name))
            return fallback;
        return integerText(QStringLiteral("--") + name, m_parser.value(name), min, max);
    }

    qint64 requiredInteger(const QString& name, qint64 min, qint64 max)
    {
        required(name);
        return integer(name, min, max, 0);
    }

    qint64 integerText(const QString& what, const QString& text, qint64 min, qint64 max)
    {
        bool parsed = false;
        const qint64 value = text.toLongLong(&parsed);
        if (ok() && (!parsed || value < min || value > max))
            fail(QStringLiteral("%1 must be a whole number from %2 to %3, got '%4'").arg(what).arg(min).arg(max).arg(text));
        return value;
    }

    QStringList list(const QString& name)
    {
        const QStringList items = m_parser.value(name).split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (ok() && m_parser.isSet(name) && items.isEmpty())
            fail(QStringLiteral("--%1 needs at least one value").arg(name));
        return items;
    }

    // The key file of the option, read and checked now: a player must not start unkeyed by mistake.
    std::optional<KeyFile> keyFile(const QString& name)
    {
        if (!ok() || !m_parser.isSet(name))
            return std::nullopt;
        QString why;
        std::optional<KeyFile> file = KeyFile::read(m_parser.value(name), why);
        if (!file) {
            fail(QStringLiteral("--%1 %2: %3").arg(name, m_parser.value(name), why));
            m_pointsToHelp = false;  // the help says nothing about a file's lines or mode
        }
        return file;
    }

    void fail(const QString& message)
    {
        if (ok())
            m_error = message;
    }

    bool pointsToHelp() const { return m_pointsToHelp; }

private:
    QCommandLineParser& m_parser;
    QString m_error;
    bool m_pointsToHelp = true;
};

QCommandLineOption valueOption(const char* name, const char* description, const char* valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description), QString::fromLatin1(valueName));
}

const QCommandLineOption kIp = valueOption("ip", "This player's own IPv4 address; both sockets bind to it.", "IP");
const QCommandLineOption kPort = valueOption("port", "The group's UDP port.", "PORT");
const QCommandLineOption kGroup = valueOption("group", "The group id, 0 to 65535.", "GROUP");
const QCommandLineOption kClockOffset =
    valueOption("clock-offset-us", "This host's clock runs this many microseconds ahead of the monotonic clock.", "N");
const QCommandLineOption kKeyFile = valueOption(
    "key-file",
    "The group's keys: one or two lines 'ID HEX' (a key id from 1 to 255, 64 hex digits); the first signs, both are "
    "accepted. Mode 0600 (or 0640 for a group). Read again on SIGHUP.",
    "FILE");
const QCommandLineOption kParent = valueOption(
    "parent", "End when process PID, which started this one, ends or closes standard input ('run' gives its own).",
    "PID");

// Runs the parser over `arguments`; false (with exitCode set) when the run ends here.
bool runParser(QCommandLineParser& parser, const QStringList& arguments, const QString& subcommand, int& exitCode)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    QStringList withoutSubcommand = arguments;
    if (withoutSubcommand.size() > 1)
        withoutSubcommand.removeAt(1);
    if (!parser.parse(withoutSubcommand)) {
        std::fprintf(stderr, "multinet-demo %s: %s\n(see multinet-demo %s --help)\n", qPrintable(subcommand),
                     qPrintable(parser.errorText()), qPrintable(subcommand));
        exitCode = kUsageError;
        return false;
    }
    if (parser.isSet(help)) {
        printOutputLine(parser.helpText().replace(QStringLiteral("[options]"), subcommand + QStringLiteral(" [options]")));
        exitCode = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "multinet-demo %s: unexpected argument '%s'\n(see multinet-demo %s --help)\n",
                     qPrintable(subcommand), qPrintable(parser.positionalArguments().front()), qPrintable(subcommand));
        exitCode = kUsageError;
        return false;
    }
    return true;
}

// Reports the reader's error, if any; true when the options are good.
bool finish(const OptionReader& reader, const QString& subcommand, int& exitCode)
{
    if (reader.ok())
        return true;
    std::fprintf(stderr, "multinet-demo %s: %s\n", qPrintable(subcommand), qPrintable(reader.error()));
    if (reader.pointsToHelp())
        std::fprintf(stderr, "(see multinet-demo %s --help)\n", qPrintable(subcommand));
    exitCode = kUsageError;
    return false;
}

quint16 readPort(OptionReader& reader)
{
    return static_cast<quint16>(reader.requiredInteger(kPort.names().front(), 1, 65535));
}

int readGroup(OptionReader& reader)
{
    return static_cast<int>(reader.requiredInteger(kGroup.names().front(), 0, 65535));
}

qint64 readClockOffset(OptionReader& reader)
{
    constexpr qint64 kOneDayUs = 86400LL * 1000000LL;
    return reader.integer(kClockOffset.names().front(), -kOneDayUs, kOneDayUs, 0);
}

qint64 readParent(OptionReader& reader)
{
    return reader.integer(kParent.names().front(), 1, std::numeric_limits<qint32>::max(), 0);
}

} // namespace

std::optional<SlaveOptions> parseSlaveOptions(const QStringList& arguments, int& exitCode)
{
    const QString subcommand = QStringLiteral("slave");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A slave player host: follows the master's commands and prints each one it receives, and each clock\n"
        "offset it is told. Standard input takes 'advance-clock US' (moves this host's clock forward), 'status'\n"
        "and 'quit'."));
    const QCommandLineOption master = valueOption("master", "The master's IPv4 address.", "IP");
    const QCommandLineOption layers = valueOption("layers", "The layer ids this player serves (default 0).", "L,L,...");
    parser.addOptions({kIp, kPort, kGroup, master, layers, kClockOffset, kKeyFile, kParent});
    if (!runParser(parser, arguments, subcommand, exitCode))
        return std::nullopt;

    OptionReader reader(parser);
    SlaveOptions options;
    options.ip = reader.ipv4(kIp.names().front());
    options.port = readPort(reader);
    options.group = readGroup(reader);
    options.masterIp = reader.ipv4(master.names().front());
    if (parser.isSet(layers)) {
        options.layers.clear();
        for (const QString& item : reader.list(layers.names().front()))
            options.layers.push_back(static_cast<int>(reader.integerText(QStringLiteral("a layer id"), item, 0, 32767)));
    }
    options.clockOffsetUs = readClockOffset(reader);
    options.keys = reader.keyFile(kKeyFile.names().front());
    options.parentPid = readParent(reader);
    if (!finish(reader, subcommand, exitCode))
        return std::nullopt;
    return options;
}

std::optional<MasterOptions> parseMasterOptions(const QStringList& arguments, int& exitCode)
{
    const QString subcommand = QStringLiteral("master");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The master player host: reads commands from standard input, one a line ('help' lists them), and\n"
        "sends them to its slaves. Every slave prints its admission key IP_PID when it starts."));
    const QCommandLineOption slaves = valueOption("slaves", "The admitted slaves, as IP_PID keys.", "IP_PID,...");
    parser.addOptions({kIp, kPort, kGroup, slaves, kClockOffset, kKeyFile, kParent});
    if (!runParser(parser, arguments, subcommand, exitCode))
        return std::nullopt;

    OptionReader reader(parser);
    MasterOptions options;
    options.ip = reader.ipv4(kIp.names().front());
    options.port = readPort(reader);
    options.group = readGroup(reader);
    reader.required(slaves.names().front());
    for (const QString& key : reader.list(slaves.names().front())) {
        const int underscore = key.lastIndexOf(QLatin1Char('_'));
        QHostAddress address;
        bool pidOk = false;
        const qint64 pid = key.mid(underscore + 1).toLongLong(&pidOk);
        if (underscore <= 0 || !address.setAddress(key.left(underscore))
            || address.protocol() != QAbstractSocket::IPv4Protocol || !pidOk || pid <= 0
            || pid > std::numeric_limits<qint32>::max())
            reader.fail(QStringLiteral("--slaves takes keys IP_PID such as 192.168.1.20_5164, got '%1'").arg(key));
        options.slaves.insert(key);
    }
    options.clockOffsetUs = readClockOffset(reader);
    options.keys = reader.keyFile(kKeyFile.names().front());
    options.parentPid = readParent(reader);
    if (!finish(reader, subcommand, exitCode))
        return std::nullopt;
    return options;
}

std::optional<RunOptions> parseRunOptions(const QStringList& arguments, int& exitCode)
{
    const QString subcommand = QStringLiteral("run");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The one-command demo: a master (127.0.0.1) and N slaves (127.0.0.2 onwards) as processes of this\n"
        "machine on loopback, each slave with a host clock a few milliseconds off, play a scripted session;\n"
        "a summary per slave closes it. Exit status 0 only when every slave got every command and every wait\n"
        "was met."));
    const QCommandLineOption slaves = valueOption("slaves", "How many slaves (default 3).", "N");
    const QCommandLineOption port = valueOption("port", "The group's UDP port (default: a free one).", "PORT");
    const QCommandLineOption group = valueOption("group", "The group id (default 7).", "GROUP");
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Also shows every line of every process, library lines included."));
    parser.addOptions({slaves, port, group, kKeyFile, verbose});
    if (!runParser(parser, arguments, subcommand, exitCode))
        return std::nullopt;

    OptionReader reader(parser);
    RunOptions options;
    options.slaves = static_cast<int>(reader.integer(slaves.names().front(), 1, kMaxRunSlaves, options.slaves));
    options.port = static_cast<quint16>(reader.integer(port.names().front(), 1, 65535, 0));
    options.group = static_cast<int>(reader.integer(group.names().front(), 0, 65535, options.group));
    options.verbose = parser.isSet(verbose);
    options.keys = reader.keyFile(kKeyFile.names().front());
    if (!finish(reader, subcommand, exitCode))
        return std::nullopt;
    return options;
}
