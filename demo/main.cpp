// SPDX-License-Identifier: MIT
// multinet-demo: a host application of the library, for watching it work and for testing it between
// real processes. See `multinet-demo --help`.
#include "DemoOptions.h"
#include "DemoRun.h"
#include "MasterHost.h"
#include "SlaveHost.h"

#include <tamomultinetcontrol_version.h>

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr char kUsage[] =
    "usage: multinet-demo <subcommand> [options]\n"
    "\n"
    "  run      the one-command demo: a master and N slaves on this machine's loopback play a session\n"
    "  slave    a slave player host: prints each command it receives and the clock offset it is told\n"
    "  master   the master player host: reads commands from standard input ('help' lists them)\n"
    "\n"
    "multinet-demo <subcommand> --help shows the options of each; multinet-demo --version the version.\n";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString subcommand = arguments.value(1);
    int exitCode = 0;
    if (subcommand == QLatin1String("slave")) {
        if (std::optional<SlaveOptions> options = parseSlaveOptions(arguments, exitCode))
            return SlaveHost(std::move(*options)).exec();
    } else if (subcommand == QLatin1String("master")) {
        if (std::optional<MasterOptions> options = parseMasterOptions(arguments, exitCode))
            return MasterHost(std::move(*options)).exec();
    } else if (subcommand == QLatin1String("run")) {
        if (std::optional<RunOptions> options = parseRunOptions(arguments, exitCode))
            return DemoRun(std::move(*options)).exec();
    } else if (subcommand == QLatin1String("--help") || subcommand == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
    } else if (subcommand == QLatin1String("--version")) {
        std::puts("multinet-demo " TAMO_MULTINETCONTROL_VERSION_STRING);
    } else {
        std::fprintf(stderr, "multinet-demo: %s\n%s",
                     subcommand.isEmpty() ? "a subcommand is missing"
                                          : qPrintable(QStringLiteral("unknown subcommand '%1'").arg(subcommand)),
                     kUsage);
        exitCode = 2;
    }
    return exitCode;
}
