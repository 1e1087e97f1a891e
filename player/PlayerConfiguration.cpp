// SPDX-License-Identifier: MIT
#include "PlayerConfiguration.h"

#include "ConfigFile.h"
#include "StderrCapture.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

const QString kConfig = QStringLiteral("--config");

// The command line around --config: the subcommand if one is given, the file, the other options.
struct CommandLine
{
    QString program;
    QString subcommand;
    std::optional<QString> path;
    QStringList options;
};

bool isRole(const QString& word)
{
    return word == QLatin1String("master") || word == QLatin1String("slave");
}

CommandLine split(const QStringList& arguments)
{
    CommandLine line;
    line.program = arguments.value(0);
    int next = 1;
    if (isRole(arguments.value(1)))
        line.subcommand = arguments[next++];
    for (; next < arguments.size(); ++next) {
        const QString& argument = arguments[next];
        if (!line.path && argument == kConfig && next + 1 < arguments.size())
            line.path = arguments[++next];
        else if (!line.path && argument.startsWith(kConfig + QLatin1Char('=')))
            line.path = argument.mid(kConfig.size() + 1);
        else
            line.options.append(argument);
    }
    return line;
}

// The name of each option on the command line ("--port 45000" and "--port=45000" name "port").
QStringList namesOf(const QStringList& options)
{
    QStringList names;
    for (const QString& option : options) {
        if (option.startsWith(QLatin1String("--")))
            names.append(option.mid(2).section(QLatin1Char('='), 0, 0));
    }
    return names;
}

// Options of the command line that replace others of the file beside their own name: they choose where
// the frames go, or what plays, which the file may have chosen otherwise.
bool replaces(const QString& given, const QString& key)
{
    static const std::map<QString, QStringList> others{
        {QStringLiteral("window"), {QStringLiteral("headless"), QStringLiteral("fullscreen"), QStringLiteral("output")}},
        {QStringLiteral("headless"), {QStringLiteral("window"), QStringLiteral("fullscreen"), QStringLiteral("output")}},
        {QStringLiteral("fullscreen"), {QStringLiteral("window"), QStringLiteral("headless")}},
        {QStringLiteral("media"), {QStringLiteral("playlist")}},
        {QStringLiteral("playlist"), {QStringLiteral("media")}},
    };
    const auto found = others.find(given);
    return given == key || (found != others.end() && found->second.contains(key));
}

// What the player's parser makes of `arguments` (the program, the subcommand, options), with what it
// printed held back.
struct Verdict
{
    std::optional<PlayerOptions> options;
    int exitCode = 0;
    QString printed;

    bool refused() const { return !options && exitCode != 0; }
    // The refusal's line.
    QString refusal() const { return printed.section(QLatin1Char('\n'), 0, 0); }
};

Verdict judge(const QStringList& arguments, bool master)
{
    Verdict verdict;
    StderrCapture capture;
    verdict.options = parsePlayerOptions(arguments, master, verdict.exitCode);
    verdict.printed = capture.finish();
    return verdict;
}

// Values for the options every player needs, so that a trial of some lines of a file is refused only for
// what those lines say.
QStringList standIns(bool master)
{
    return {QStringLiteral("--ip=127.0.0.1"), QStringLiteral("--port=1"),
            master ? QStringLiteral("--media=stand-in") : QStringLiteral("--master=127.0.0.1")};
}

// An argument made of a line of the file.
struct FileArgument
{
    QString text;
    int line;
};

// The arguments that the file's lines stand for, less those the command line replaces. A key is a flag
// when the parser takes it bare; a flag is written `key = true` (or false, for nothing).
std::optional<std::vector<FileArgument>> argumentsOf(const ConfigFile& config, const QStringList& head, bool master,
                                                     const QStringList& given, QString& error)
{
    std::vector<FileArgument> arguments;
    for (const ConfigFile::Line& line : config.options) {
        if (std::any_of(given.begin(), given.end(), [&](const QString& name) { return replaces(name, line.key); }))
            continue;
        const QString option = QStringLiteral("--") + line.key;
        if (!judge(QStringList(head + standIns(master)) << option, master).options) {
            arguments.push_back({option + QLatin1Char('=') + line.value, line.number});
        } else if (line.value == QLatin1String("true")) {
            arguments.push_back({option, line.number});
        } else if (line.value != QLatin1String("false")) {
            error = config.at(line.number, QStringLiteral("%1 takes true or false, got '%2'").arg(line.key, line.value));
            return std::nullopt;
        }
    }
    return arguments;
}

// The refusal of the whole, `said`, with the file's line that brings it about: the first line with which
// the file's lines up to there (on stand-ins, with the command line) are refused alike. Without such a
// line (the command line's own refusal, or an option missing everywhere) it is said as it is.
QString placed(const QString& said, const ConfigFile& config, const std::vector<FileArgument>& arguments,
               const QStringList& head, const QStringList& given, bool master)
{
    const QString prefix = QStringLiteral("multinet-player: ");
    QStringList tried = head + standIns(master);
    auto refusedAlike = [&](const QStringList& upTo) {
        const Verdict verdict = judge(upTo + given, master);
        return verdict.refused() && verdict.refusal() == said;
    };
    if (!said.startsWith(prefix) || refusedAlike(tried))
        return said;
    for (const FileArgument& argument : arguments) {
        tried.append(argument.text);
        if (refusedAlike(tried))
            return prefix + config.at(argument.line, said.mid(prefix.size()));
    }
    return said;
}

void refuse(const QString& line, int& exitCode)
{
    std::fprintf(stderr, "multinet-player: %s\n", qPrintable(line));
    exitCode = 2;
}

} // namespace

bool namesConfigFile(const QStringList& arguments)
{
    const QString first = arguments.value(1);
    if (!isRole(first) && !first.startsWith(QLatin1String("--")))
        return false;
    return std::any_of(arguments.begin() + 1, arguments.end(), [](const QString& argument) {
        return argument == kConfig || argument.startsWith(kConfig + QLatin1Char('='));
    });
}

std::optional<PlayerOptions> parseConfiguredPlayer(const QStringList& arguments, int& exitCode)
{
    const CommandLine command = split(arguments);
    if (!command.path) {
        refuse(QStringLiteral("--config takes a FILE"), exitCode);
        return std::nullopt;
    }
    QString error;
    const std::optional<ConfigFile> config = ConfigFile::read(*command.path, error);
    if (!config) {
        refuse(error, exitCode);
        return std::nullopt;
    }
    const QString role = command.subcommand.isEmpty() ? config->role : command.subcommand;
    if (role.isEmpty()) {
        refuse(QStringLiteral("%1: no role: add 'role = master' or 'role = slave', or name the subcommand before --config")
                   .arg(config->path),
               exitCode);
        return std::nullopt;
    }
    const bool master = role == QLatin1String("master");
    const QStringList head{command.program, role};
    // The help of the role's options, whatever the file holds.
    if (command.options.contains(QStringLiteral("--help")) || command.options.contains(QStringLiteral("-h")))
        return parsePlayerOptions(QStringList(head) << QStringLiteral("--help"), master, exitCode);
    const std::optional<std::vector<FileArgument>> fromFile =
        argumentsOf(*config, head, master, namesOf(command.options), error);
    if (!fromFile) {
        refuse(error, exitCode);
        return std::nullopt;
    }
    QStringList all = head;
    for (const FileArgument& argument : *fromFile)
        all.append(argument.text);
    Verdict verdict = judge(all + command.options, master);
    exitCode = verdict.exitCode;
    if (verdict.refused()) {
        std::fprintf(stderr, "%s\n", qPrintable(placed(verdict.refusal(), *config, *fromFile, head, command.options, master)));
        return std::nullopt;
    }
    std::fputs(qPrintable(verdict.printed), stderr);
    if (verdict.options)
        verdict.options->endsWithInput = false;
    return std::move(verdict.options);
}
