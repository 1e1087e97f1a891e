// SPDX-License-Identifier: MIT
#include "PlayerProgram.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace {

// A clip of the longest length the run takes (600 s) is written within a minute or two.
constexpr int kMakeClipTimeoutMs = 600000;

} // namespace

namespace PlayerProgram {

QString path()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/multinet-player");
}

bool found(QString& error)
{
    if (QFileInfo(path()).isExecutable())
        return true;
    error = QStringLiteral("no multinet-player beside this program at %1 (the two are built and installed together)").arg(path());
    return false;
}

bool makeClip(const QString& clip, double seconds, QString& error)
{
    QProcess maker;
    maker.setProcessChannelMode(QProcess::MergedChannels);
    maker.start(path(), {QStringLiteral("make-clip"), clip, QStringLiteral("--seconds"), QString::number(seconds)});
    if (!maker.waitForFinished(kMakeClipTimeoutMs)) {
        error = QStringLiteral("multinet-player make-clip did not finish: %1").arg(maker.errorString());
        maker.kill();
        maker.waitForFinished();
        return false;
    }
    if (maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0)
        return true;
    const QString said = QString::fromLocal8Bit(maker.readAll()).trimmed();
    error = said.isEmpty() ? QStringLiteral("multinet-player make-clip ended with status %1").arg(maker.exitCode()) : said;
    return false;
}

} // namespace PlayerProgram
