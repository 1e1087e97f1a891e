// SPDX-License-Identifier: MIT
#include "HostStartup.h"

#include "EventLine.h"

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

bool listeningOrSayWhy(bool listening, const std::string& why, const QString& who)
{
    if (listening)
        return true;
    printOutputLine(QStringLiteral("%1: cannot listen: %2").arg(who, QString::fromStdString(why)));
    return false;
}

bool endWithParent(qint64 parentPid)
{
#ifdef Q_OS_LINUX
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        return true;  // the end of standard input still ends the host
    // The parent may have gone before the request took effect: the process was handed to another then.
    return parentPid == 0 || getppid() == parentPid;
#else
    Q_UNUSED(parentPid);
    return true;
#endif
}

void sharpenTimers()
{
#ifdef Q_OS_LINUX
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
}
