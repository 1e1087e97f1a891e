// SPDX-License-Identifier: MIT
// Role "library-node": one MultiNetControl in a process of its own, as a player would hold it, with the
// Qt event loop running on the thread that constructed it. Options:
//   --ip IP --port P           the node's address and group port
//   --master | --slave         its role; --master-ip IP on a slave
//   --clock-offset-us N        host clock = monotonic clock + N
//   --commands C               commandSlots for numbered start commands (a slave records their arrival)
//   --interval-us I            on go, a master sends C start commands, one every I us, from a host thread
//   --clock-sync               on go, a master starts clock synchronisation
//   --start-after-ms T         on go, a master sends one start command T ms later
//   --keyed                    the group is keyed (kBenchGroupKey): every datagram signed and checked
//   --bare                     no control object at all: the cost of an idle Qt process
//   --log FILE                 where the library's log lines go (default /dev/null)
#include "roles/Roles.h"

#include "roles/BenchHost.h"
#include "support/BenchClock.h"
#include "support/ChildControl.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

std::unique_ptr<MultiNetControl> makeNode(const Args& args, BenchHost& host)
{
    auto node = std::make_unique<MultiNetControl>(host.callbacks(), kBenchGroupId, args.text("ip", "127.0.0.1"),
                                                  static_cast<unsigned>(args.number("port")));
    if (args.has("master"))
        node->setMasterFlag(true);
    if (args.has("slave")) {
        node->setSlaveFlag(true);
        node->setMasterIp(args.text("master-ip", "127.0.0.1"));
    }
    if (args.has("keyed") && !node->setGroupKeys({NetControlNS::struGroupKey{1, kBenchGroupKey}}))
        throw std::runtime_error("the library refused the bench's group key");
    return node;
}

// What a master's host does on go, on a thread of its own as a player's control thread would.
void runMasterActions(const Args& args, MultiNetControl& node, ChildControl& control, Sends& sends)
{
    if (args.has("clock-sync"))
        node.notifySlaveStartClockSync();
    if (args.has("start-after-ms")) {
        sleepForMs(static_cast<int>(args.number("start-after-ms")));
        node.notifySlaveStart(-1, 0, 0, nullptr, 0);
    }
    const std::int64_t intervalNs = args.number("interval-us") * 1000;
    const std::int64_t firstNs = monotonicNs();
    for (std::size_t i = 0; intervalNs > 0 && i < sends.beforeNs.size() && !control.stopRequested(); ++i) {
        sleepUntilNs(firstNs + static_cast<std::int64_t>(i) * intervalNs);
        sends.time(i, [&] { node.notifySlaveStart(static_cast<double>(i), 0, 0, nullptr, 0); });
    }
}

} // namespace

int runLibraryNodeRole(const Args& args)
{
    int argc = 1;
    char name[] = "tamo_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ChildControl control(args.text("log"));

    const auto commandSlots = static_cast<std::size_t>(args.number("commands"));
    BenchHost host(args.number("clock-offset-us"), commandSlots);
    std::unique_ptr<MultiNetControl> node = args.has("bare") ? nullptr : makeNode(args, host);

    Sends sends(args.has("master") ? commandSlots : 0);  // the actions thread, then the main thread after the join
    std::thread actions([&] {
        if (!node || !args.has("master") || !control.waitForGo())
            return;
        runMasterActions(args, *node, control, sends);
        control.send("actions-done");
    });
    control.onStop([&app] { QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection); });
    control.start();
    app.exec();
    actions.join();
    node.reset();

    sends.report(control);
    host.starts().report(control);
    char line[96];
    for (const OffsetReading& reading : host.offsets()) {
        std::snprintf(line, sizeof line, "offset %lld %.12g", static_cast<long long>(reading.atNs),
                      reading.meanSeconds);
        control.send(line);
    }
    control.send("done");
    return 0;
}
