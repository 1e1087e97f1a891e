// SPDX-License-Identifier: MIT
#include "ScreenTable.h"

#include <algorithm>

namespace {

QString keyOf(const NetControlNS::struAddress& entry)
{
    return QString::fromStdString(entry.ip) + QLatin1Char('_') + QString::number(entry.processId);
}

} // namespace

std::vector<ScreenStatus> screensOf(const std::vector<NetControlNS::struSlaveHealth>& roster,
                                    const QSet<QString>& admitted, const QSet<QString>& offLine, qint64 nowUs)
{
    std::vector<ScreenStatus> screens;
    for (const NetControlNS::struSlaveHealth& entry : roster) {
        const QString key = keyOf(entry.slave);
        auto row = std::find_if(screens.begin(), screens.end(), [&](const ScreenStatus& s) { return s.key == key; });
        if (row == screens.end()) {
            ScreenStatus screen;
            screen.key = key;
            screen.inRoster = true;
            screen.onLine = !offLine.contains(key);
            screen.health = entry;
            row = screens.insert(screens.end(), screen);
        }
        // Its entries share its heartbeats: the youngest tells.
        const qint64 lastUs = entry.slave.lastOnlineTime;
        const qint64 ageUs = lastUs < 0 ? -1 : nowUs - lastUs;
        if (ageUs >= 0 && (row->heartbeatAgeUs < 0 || ageUs < row->heartbeatAgeUs))
            row->heartbeatAgeUs = ageUs;
    }
    QStringList missing;
    for (const QString& key : admitted) {
        if (std::none_of(screens.begin(), screens.end(), [&](const ScreenStatus& s) { return s.key == key; }))
            missing.append(key);
    }
    missing.sort();
    for (const QString& key : missing) {
        ScreenStatus screen;
        screen.key = key;
        const int split = key.lastIndexOf(QLatin1Char('_'));
        screen.health.slave.ip = key.left(split).toStdString();
        screen.health.slave.processId = key.mid(split + 1).toInt();
        screens.push_back(screen);
    }
    return screens;
}
