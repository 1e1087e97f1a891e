// SPDX-License-Identifier: MIT
// The master's admission of the slaves that --slaves names by a plain IP: a configuration written before
// the players start knows no process ids, so every process of a listed IP that answers a search is
// admitted under its "ip_pid" key, as an operator's `admit` would.
//
// A newcomer of an IP that has a slave in the roster may be that slave's program started again, which the
// library takes in its old place (setAdmitRestartedSlaves: at once in a keyed group, else once the old
// process has been silent for 5 s and does not answer a question) so that the old one leaves the roster.
// Such a newcomer is left to that rule for as long as it can take, and admitted beside the old slave only
// after that: it is a second player of that PC.
#pragma once

#include <MultiNetControl.h>

#include <QSet>
#include <QStringList>

#include <map>
#include <vector>

class SlaveAdmission
{
public:
    // How long a newcomer of an IP with a slave in the roster is left to the library's rule: the old
    // slave's silence, the question to it, and the searches that carry the newcomer's reports.
    static constexpr qint64 kRestartRuleUs = MultiNetControl::kSlaveOfflineAfterUs + 3000000;
    // A partner report older than this on the host clock is from a process that may be gone: only
    // reports to the searches of the last few seconds admit.
    static constexpr qint64 kFreshReportUs = 3000000;

    explicit SlaveAdmission(QStringList ips) : m_ips(std::move(ips)) {}

    // Splits the entries of --slaves (separated by commas) into "ip_pid" keys and plain IPs; false, with
    // `wrong` set to the first entry that is neither.
    static bool readList(const QString& list, QSet<QString>& keys, QStringList& ips, QString& wrong);

    // Admits the newcomers of the listed IPs, then searches for slaves again, keeping the roster (a
    // newcomer admitted now answers this search). The master's search of every second; `nowUs` on its
    // host clock.
    bool search(MultiNetControl& control, qint64 nowUs);
    // The listed IPs of which no slave is in the roster (`rosterKeys`).
    QStringList missing(const QStringList& rosterKeys) const;
    // The keys among the partner reports `unadmitted` to admit at `nowUs`, given the keys admitted and
    // those in the roster; remembers when it first saw each newcomer that it holds back.
    QStringList newcomers(const std::vector<NetControlNS::struAddress>& unadmitted, const QSet<QString>& admitted,
                          const QStringList& rosterKeys, qint64 nowUs);

private:
    const QStringList m_ips;
    std::map<QString, qint64> m_heldSinceUs;  // newcomers held back, by key: when first seen
};
