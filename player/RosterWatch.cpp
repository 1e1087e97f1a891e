// SPDX-License-Identifier: MIT
#include "RosterWatch.h"

#include <map>

QString RosterWatch::keyOf(const NetControlNS::struAddress& entry)
{
    return QString::fromStdString(entry.ip) + QLatin1Char('_') + QString::number(entry.processId);
}

void RosterWatch::know(const QStringList& keys)
{
    for (const QString& key : keys)
        m_known.insert(key);
}

RosterWatch::Changes RosterWatch::update(const std::vector<NetControlNS::struAddress>& roster, qint64 nowUs)
{
    // A slave is on line while any of its entries is: they share its heartbeats. One that has sent none
    // yet is not counted off line: it has just been found.
    std::map<QString, bool> onLine;
    for (const NetControlNS::struAddress& entry : roster) {
        const bool live = entry.lastOnlineTime < 0 || nowUs - entry.lastOnlineTime <= MultiNetControl::kSlaveOfflineAfterUs;
        bool& slave = onLine.try_emplace(keyOf(entry), false).first->second;
        slave = slave || live;
    }
    Changes changes;
    for (const auto& [key, live] : onLine) {
        if (!m_known.contains(key)) {
            m_known.insert(key);
            changes.fresh.append(key);
        } else if (!live && !m_offLine.contains(key)) {
            m_offLine.insert(key);
            changes.wentOff.append(key);
        } else if (live && m_offLine.remove(key)) {
            changes.cameBack.append(key);
        }
    }
    return changes;
}
