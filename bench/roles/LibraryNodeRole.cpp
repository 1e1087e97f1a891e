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
//   --keyed-port Q             beside the node, a second one in a keyed group on port Q; a master's
//                              commands take turns between the two (groupOfCommand: 1 is the keyed)
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
#include <vector>

namespace {

std::unique_ptr<MultiNetControl> makeNode(const Args& args, BenchHost& host, std::int64_t port, bool keyed)
{
    auto node = std::make_unique<MultiNetControl>(host.callbacks(), kBenchGroupId, args.text("ip", "127.0.0.1"),
                                                  static_cast<unsigned>(port));
    if (args.has("master"))
        node->setMasterFlag(true);
    if (args.has("slave")) {
        node->setSlaveFlag(true);
        node->setMasterIp(args.text("master-ip", "127.0.0.1"));
    }
    if (keyed && !node->setGroupKeys({NetControlNS::struGroupKey{1, kBenchGroupKey}}))
        throw std::runtime_error("the library refused the bench's group key");
    return node;
}

// What a master's host does on go, on a thread of its own as a player's control thread would. With two
// nodes, each numbered command goes to the one groupOfCommand names.
void runMasterActions(const Args& args, const std::vector<MultiNetControl*>& nodes, ChildControl& control,
                      Sends& sends)
{
    MultiNetControl& node = *nodes.front();
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
        MultiNetControl& turn = *nodes[nodes.size() == 2 ? std::size_t(groupOfCommand(i)) : 0];
        sends.time(i, [&] { turn.notifySlaveStart(static_cast<double>(i), 0, 0, nullptr, 0); });
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
    const std::int64_t clockOffsetUs = args.number("clock-offset-us");
    // One host each: a host's records are written by its node's worker thread alone.
    BenchHost host(clockOffsetUs, commandSlots);
    BenchHost keyedHost(clockOffsetUs, commandSlots);
    std::vector<std::unique_ptr<MultiNetControl>> nodes;
    if (!args.has("bare"))
        nodes.push_back(makeNode(args, host, args.number("port"), args.has("keyed")));
    if (args.has("keyed-port"))
        nodes.push_back(makeNode(args, keyedHost, args.number("keyed-port"), true));

    Sends sends(args.has("master") ? commandSlots : 0);  // the actions thread, then the main thread after the join
    std::thread actions([&] {
        if (nodes.empty() || !args.has("master") || !control.waitForGo())
            return;
        std::vector<MultiNetControl*> turns;
        for (const auto& node : nodes)
            turns.push_back(node.get());
        runMasterActions(args, turns, control, sends);
        control.send("actions-done");
    });
    control.onStop([&app] { QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection); });
    control.start();
    app.exec();
    actions.join();
    nodes.clear();

    sends.report(control);
    Arrivals starts = host.starts();
    starts.add(keyedHost.starts());
    starts.report(control);
    char line[96];
    for (const OffsetReading& reading : host.offsets()) {
        std::snprintf(line, sizeof line, "offset %lld %.12g", static_cast<long long>(reading.atNs),
                      reading.meanSeconds);
        control.send(line);
    }
    control.send("done");
    return 0;
}
