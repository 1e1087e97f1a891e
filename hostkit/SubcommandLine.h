// SPDX-License-Identifier: MIT
// The command line of one subcommand of a program ("multinet-player master ...", "multinet-lab run ..."):
// parsed without the subcommand's word, and numbers read within their bounds. --help prints the help and
// sets exit code 0; anything wrong is one line "<program>: <why>" on standard error and exit code 2. Each
// function returns false when the caller must stop.
#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <QtGlobal>

namespace SubcommandLine {

// What a program answers to a subcommand word it does not run: --help or -h prints `usage` (exit code 0);
// none or an unknown one is refused with the usage on standard error (exit code 2). Returns the exit code.
int answerOtherSubcommand(const char* program, const QString& subcommand, const char* usage);

// Parses `arguments` (program, subcommand, options); no positional argument is taken.
bool parse(const char* program, QCommandLineParser& parser, const QStringList& arguments, const char* synopsis,
           int& exitCode);

// Reads option `name`, when set, as a whole number within [min, max].
bool readWholeNumber(const char* program, const QCommandLineParser& parser, const char* name, qint64 min, qint64 max,
                     qint64& out, int& exitCode);

template <typename T>
bool readInteger(const char* program, const QCommandLineParser& parser, const char* name, qint64 min, qint64 max,
                 T& out, int& exitCode)
{
    qint64 value = qint64(out);
    if (!readWholeNumber(program, parser, name, min, max, value, exitCode))
        return false;
    out = T(value);
    return true;
}

// Reads option `name`, when set, as a number within [min, max].
bool readReal(const char* program, const QCommandLineParser& parser, const char* name, double min, double max,
              double& out, int& exitCode);

} // namespace SubcommandLine
