// SPDX-License-Identifier: MIT
#include "common/EventLoopWait.h"

#include <QEventLoop>
#include <QTimer>

bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

void runEventLoopFor(int ms)
{
    runEventLoopUntil([] { return false; }, ms);
}
