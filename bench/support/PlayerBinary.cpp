// SPDX-License-Identifier: MIT
#include "support/PlayerBinary.h"

#include <QCoreApplication>
#include <QFileInfo>

QString playerPath()
{
    const QByteArray fromEnvironment = qgetenv("TAMO_BENCH_PLAYER");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../player/multinet-player");
}

bool playerBuilt()
{
    return QFileInfo::exists(playerPath());
}
