// SPDX-License-Identifier: MIT
#include "EventLoopWait.h"

#include <QEventLoop>
#include <QTimer>

bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs, int pollMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

void runEventLoopFor(int ms)
{
    runEventLoopUntil([] { return false; }, ms);
}
