// SPDX-License-Identifier: MIT
#include "support/SecondFrames.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr std::int64_t kPlaySpanNs = 10000LL * 1000000000LL;
constexpr std::int64_t kSecondNs = 1000000000LL;

} // namespace

std::vector<std::int64_t> wholeSecondFramesNs(const QString& frameLog)
{
    QFile file(frameLog);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the frame log " + frameLog.toStdString());
    std::vector<std::int64_t> shown;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        bool keyOk = false;
        bool timeOk = false;
        if (fields.size() != 3 || fields[0] != "r")
            continue;
        const std::int64_t key = fields[1].toLongLong(&keyOk);
        const std::int64_t monoNs = fields[2].toLongLong(&timeOk);
        if (keyOk && timeOk && key % kPlaySpanNs % kSecondNs == 0)
            shown.push_back(monoNs);
    }
    std::sort(shown.begin(), shown.end());
    return shown;
}
