// SPDX-License-Identifier: MIT
// Role "memory-probe" --port P: resident memory of this process before any control object, with one,
// and with ten (slaves on 127.0.0.2 ...), each measured after the objects have run their event loop a while.
#include "roles/Roles.h"

#include "MultiNetControl.h"
#include "support/BenchClock.h"
#include "support/ChildControl.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int kSettleMs = 300;
constexpr int kManyObjects = 10;

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int runMemoryProbeRole(const Args& args)
{
    int argc = 1;
    char name[] = "tamo_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ChildControl control(args.text("log"));
    control.start();
    NetControlNS::slaveControlCbk callbacks;
    callbacks.getClockTimeCbk = [] { return static_cast<qint64>(monotonicUs()); };
    const auto port = static_cast<unsigned>(args.number("port"));

    std::vector<std::unique_ptr<MultiNetControl>> objects;
    const auto addObjectsUpTo = [&](int count) {
        while (static_cast<int>(objects.size()) < count) {
            const std::string ip = "127.0.0." + std::to_string(objects.size() + 2);
            objects.push_back(std::make_unique<MultiNetControl>(&callbacks, kBenchGroupId, ip, port));
            objects.back()->setSlaveFlag(true);
            objects.back()->setMasterIp("127.0.0.1");
        }
        settle();
        return residentKiB();
    };
    settle();
    const long baseKiB = residentKiB();
    const long oneKiB = addObjectsUpTo(1);
    const long tenKiB = addObjectsUpTo(kManyObjects);
    objects.clear();

    control.waitForStop();
    control.send("memory " + std::to_string(baseKiB) + " " + std::to_string(oneKiB) + " " + std::to_string(tenKiB));
    control.send("done");
    return 0;
}
