// SPDX-License-Identifier: MIT
// multinet-lab: the measuring laboratory of multinet-player. It starts players on this machine's loopback
// and reads their frame logs for the skew between their screens. See `multinet-lab --help`.
#include "LogCompare.h"
#include "PlayerRun.h"
#include "PlayerRunOptions.h"
#include "SubcommandLine.h"

#include <QCoreApplication>

namespace {

constexpr char kUsage[] =
    "usage: multinet-lab <subcommand> [options]\n"
    "\n"
    "  run        a master and N slaves (multinet-player, beside this program) on this machine's loopback play\n"
    "             a clip in step; prints the skew table\n"
    "  compare    the skew of frame logs against a reference log\n"
    "\n"
    "multinet-lab <subcommand> --help shows the options of each.\n";

// Runs the subcommand that `arguments` names; its exit status.
int runSubcommand(const QStringList& arguments)
{
    const QString subcommand = arguments.value(1);
    int exitCode = 0;
    if (subcommand == QLatin1String("run")) {
        if (std::optional<PlayerRunOptions> options = parseRunOptions(arguments, exitCode))
            return PlayerRun(std::move(*options)).exec();
    } else if (subcommand == QLatin1String("compare")) {
        return compareFrameLogs(arguments);
    } else {
        exitCode = SubcommandLine::answerOtherSubcommand("multinet-lab", subcommand, kUsage);
    }
    return exitCode;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return runSubcommand(QCoreApplication::arguments());
}
