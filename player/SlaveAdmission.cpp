// SPDX-License-Identifier: MIT
#include "SlaveAdmission.h"

#include "EventLine.h"

#include <QHostAddress>

#include <algorithm>

namespace {

bool isIpv4(const QString& text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol;
}

// "IP_PID", as a slave's ready line gives it.
bool isSlaveKey(const QString& text)
{
    const int split = text.lastIndexOf(QLatin1Char('_'));
    bool ok = false;
    return split > 0 && isIpv4(text.left(split)) && text.mid(split + 1).toInt(&ok) > 0 && ok;
}

QString keyOf(const NetControlNS::struAddress& entry)
{
    return QString::fromStdString(entry.ip) + QLatin1Char('_') + QString::number(entry.processId);
}

QStringList keysOf(const std::vector<NetControlNS::struAddress>& roster)
{
    QStringList keys;
    for (const NetControlNS::struAddress& entry : roster)
        keys.append(keyOf(entry));
    return keys;
}

bool hasSlaveOf(const QString& ip, const QStringList& rosterKeys)
{
    return std::any_of(rosterKeys.begin(), rosterKeys.end(),
                       [&](const QString& key) { return key.startsWith(ip + QLatin1Char('_')); });
}

} // namespace

bool SlaveAdmission::readList(const QString& list, QSet<QString>& keys, QStringList& ips, QString& wrong)
{
    for (const QString& word : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString entry = word.trimmed();
        if (isIpv4(entry)) {
            if (!ips.contains(entry))
                ips.append(entry);
        } else if (isSlaveKey(entry)) {
            keys.insert(entry);
        } else {
            wrong = entry;
            return false;
        }
    }
    return true;
}

bool SlaveAdmission::search(MultiNetControl& control, qint64 nowUs)
{
    if (!m_ips.isEmpty()) {
        QSet<QString> admitted = control.getAdmittedSlaves();
        const QStringList keys = newcomers(control.getUnadmittedPartners(), admitted, keysOf(control.getSlavesPlayer()), nowUs);
        for (const QString& key : keys) {
            admitted.insert(key);
            EventLine(QStringLiteral("admitted")).add(QStringLiteral("key"), key).print();
        }
        if (!keys.isEmpty())
            control.setSlaves(admitted);
    }
    return control.refreshSlavePlayers();
}

QStringList SlaveAdmission::missing(const QStringList& rosterKeys) const
{
    QStringList absent;
    std::copy_if(m_ips.begin(), m_ips.end(), std::back_inserter(absent),
                 [&](const QString& ip) { return !hasSlaveOf(ip, rosterKeys); });
    return absent;
}

QStringList SlaveAdmission::newcomers(const std::vector<NetControlNS::struAddress>& unadmitted,
                                      const QSet<QString>& admitted, const QStringList& rosterKeys, qint64 nowUs)
{
    QStringList admit;
    std::map<QString, qint64> held;
    for (const NetControlNS::struAddress& report : unadmitted) {
        const QString key = keyOf(report);
        const QString ip = QString::fromStdString(report.ip);
        // The library keeps a report after its key is admitted, and the last few only.
        if (!m_ips.contains(ip) || admitted.contains(key) || nowUs - report.lastOnlineTime > kFreshReportUs)
            continue;
        if (hasSlaveOf(ip, rosterKeys)) {
            const auto seen = m_heldSinceUs.find(key);
            const qint64 sinceUs = seen == m_heldSinceUs.end() ? nowUs : seen->second;
            if (nowUs - sinceUs < kRestartRuleUs) {
                held.emplace(key, sinceUs);
                continue;
            }
        }
        admit.append(key);
    }
    m_heldSinceUs = std::move(held);
    return admit;
}
