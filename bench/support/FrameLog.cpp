// SPDX-License-Identifier: MIT
#include "support/FrameLog.h"

#include <QFile>

#include <stdexcept>

std::vector<RenderedFrame> renderedFrames(const QString& frameLog)
{
    QFile file(frameLog);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the frame log " + frameLog.toStdString());
    std::vector<RenderedFrame> frames;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        bool keyOk = false;
        bool timeOk = false;
        if (fields.size() != 3 || fields[0] != "r")
            continue;
        const std::int64_t key = fields[1].toLongLong(&keyOk);
        const std::int64_t monoNs = fields[2].toLongLong(&timeOk);
        if (keyOk && timeOk)
            frames.push_back({key, monoNs});
    }
    return frames;
}
