// SPDX-License-Identifier: MIT
// What a master learns from its roster while a programme plays: slaves that are new to it (one that
// joined, one whose program started again and took its old place), and slaves that went off line or came
// back (a cable pulled and plugged in again). Each slave is known by its key, "ip_pid".
#pragma once

#include <MultiNetControl.h>

#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

class RosterWatch
{
public:
    struct Changes
    {
        QStringList fresh;    // keys with roster entries that were not there before
        QStringList wentOff;  // keys whose entries all went off line
        QStringList cameBack; // keys that were off line and are on line again
    };

    static QString keyOf(const NetControlNS::struAddress& entry);

    // Compares `roster`, read at host time `nowUs`, with what it saw before.
    Changes update(const std::vector<NetControlNS::struAddress>& roster, qint64 nowUs);
    // Takes `keys` as seen already (the slaves found at the start).
    void know(const QStringList& keys);

private:
    QSet<QString> m_known;
    QSet<QString> m_offLine;
};
