// SPDX-License-Identifier: MIT
#include "SubcommandLine.h"

#include <cstdio>

namespace SubcommandLine {

int answerOtherSubcommand(const char* program, const QString& subcommand, const char* usage)
{
    if (subcommand == QLatin1String("--help") || subcommand == QLatin1String("-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: %s\n%s", program,
                 subcommand.isEmpty() ? "a subcommand is missing"
                                      : qPrintable(QStringLiteral("unknown subcommand '%1'").arg(subcommand)),
                 usage);
    return 2;
}

bool parse(const char* program, QCommandLineParser& parser, const QStringList& arguments, const char* synopsis,
           int& exitCode)
{
    parser.setApplicationDescription(QString::fromLatin1(synopsis));
    parser.addHelpOption();
    QStringList withoutSubcommand = arguments;
    if (withoutSubcommand.size() > 1)
        withoutSubcommand.removeAt(1);
    if (!parser.parse(withoutSubcommand)) {
        std::fprintf(stderr, "%s: %s\n", program, qPrintable(parser.errorText()));
        exitCode = 2;
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        exitCode = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\n", program, qPrintable(parser.positionalArguments().front()));
        exitCode = 2;
        return false;
    }
    return true;
}

bool readWholeNumber(const char* program, const QCommandLineParser& parser, const char* name, qint64 min, qint64 max,
                     qint64& out, int& exitCode)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const qint64 value = parser.value(option).toLongLong(&ok);
    if (!ok || value < min || value > max) {
        std::fprintf(stderr, "%s: --%s takes a whole number from %lld to %lld, got '%s'\n", program, name,
                     static_cast<long long>(min), static_cast<long long>(max), qPrintable(parser.value(option)));
        exitCode = 2;
        return false;
    }
    out = value;
    return true;
}

bool readReal(const char* program, const QCommandLineParser& parser, const char* name, double min, double max,
              double& out, int& exitCode)
{
    const QString option = QString::fromLatin1(name);
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || value < min || value > max) {
        std::fprintf(stderr, "%s: --%s takes a number from %g to %g, got '%s'\n", program, name, min, max,
                     qPrintable(parser.value(option)));
        exitCode = 2;
        return false;
    }
    out = value;
    return true;
}

} // namespace SubcommandLine
