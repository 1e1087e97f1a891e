// SPDX-License-Identifier: MIT
#include "HostStartup.h"

#include "EventLine.h"

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

bool listeningOrSayWhy(const MultiNetControl& control, const char* role)
{
    if (control.isListening())
        return true;
    printOutputLine(QStringLiteral("multinet-demo %1: cannot listen: %2")
                        .arg(QLatin1String(role), QString::fromStdString(control.errorString())));
    return false;
}

bool endWithParent(qint64 parentPid)
{
#ifdef Q_OS_LINUX
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        return true;  // the end of standard input still ends the host
    // The parent may have gone before the request took effect: the process was handed to another then.
    return getppid() == parentPid;
#else
    Q_UNUSED(parentPid);
    return true;
#endif
}
