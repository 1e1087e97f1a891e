// SPDX-License-Identifier: MIT
// The master's roster of slave players: one entry per slave endpoint and layer that answered a search and
// is admitted, with the flags of its reports and the time of its last heartbeat; the admitted set; and
// the latest partner reports of slaves that are not admitted.
#pragma once

#include "MultiNetControl.h"
#include "common/ObjectFlags.h"

#include <QSet>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <optional>
#include <vector>

namespace tamo::detail {

class SlaveRoster
{
public:
    // What a partner report came to.
    struct Admission
    {
        bool added = false;       // a new entry
        QString replaced;         // the silent key whose place the sender took, if any
        int entriesOfSlave = 0;   // the sender's entries afterwards
        // An admitted slave to ask whether it is still there (a search sent to its endpoint) before the
        // sender may take its place.
        std::optional<NetControlNS::struAddress> probe;
    };

    // Endpoints remembered as acknowledging; a bound against forged acknowledgements from many ports.
    static constexpr std::size_t kMaxAcknowledging = 4096;
    // An admitted slave is asked this many times, at most one ask each kProbeAskEveryUs (with the
    // newcomer's reports), and its place is taken kProbeAnswerWithinUs after the last ask stayed unanswered:
    // on a link that loses a fifth of the datagrams, a live slave still answers one of them.
    static constexpr int kProbeAsks = 3;
    static constexpr qint64 kProbeAskEveryUs = 300000;
    static constexpr qint64 kProbeAnswerWithinUs = 1000000;
    static constexpr std::size_t kMaxProbes = 256;

    SlaveRoster(const NetControlNS::slaveControlCbk* cbk, const ObjectFlags& flags) : m_cbk(cbk), m_flags(flags) {}

    // "ip_processId", the key of a slave in the admitted set.
    static QString admissionKey(const NetControlNS::struAddress& sender);

    void setAdmitted(QSet<QString> slaves);
    QSet<QString> admitted() const;
    bool isAdmitted(const NetControlNS::struAddress& sender) const;
    void clear();
    std::vector<NetControlNS::struAddress> entries() const;
    std::size_t size() const;
    std::vector<NetControlNS::struAddress> unadmitted() const;
    // The distinct endpoints of the roster that acknowledge commands: those that said so in their partner
    // report, and those that acknowledged one (a slave of a version that says nothing).
    std::vector<NetControlNS::struAddress> acknowledgingEndpoints() const;
    // `sender`'s endpoint acknowledged a command. Worker thread.
    void noteAcknowledges(const NetControlNS::struAddress& sender);
    // What `entry`'s endpoint said it supports in its partner report (Capabilities bits; 0: nothing said).
    std::uint16_t capabilitiesOf(const NetControlNS::struAddress& entry) const;

    // The host's queries; each prints its lines (never with the roster locked, nor the host clock read so).
    bool isAllSlavePrepared(int layerId) const;
    bool isAllSlaveComplete(int layerId) const;
    bool isAllSlaveClockSucced() const;
    void clearSlaveCompleteFlags(int layerId);
    // The entries of `layerId` (-1: every layer; any for ClockSynced) that lack `what`. Prints nothing.
    std::vector<NetControlNS::struAddress> notReady(NetControlNS::Readiness what, int layerId) const;

    // A partner report of `partner` (its layer id set) at host time `now`, saying `capabilities`. Worker thread.
    Admission admit(const NetControlNS::struAddress& partner, std::optional<qint64> now, std::uint16_t capabilities);
    // A heartbeat of `addr`'s process at host time `time`. Worker thread.
    void setSlaveLastOnlineTime(qint64 time, NetControlNS::struAddress addr);
    // The clock-ready report: every entry of the IP. Worker thread.
    void markClockSynced(const std::string& ip);
    // Sets `flag` on every entry of the sender's endpoint and `layerId`; returns those entries. Worker thread.
    std::vector<NetControlNS::struAddress> markLayer(const NetControlNS::struAddress& sender, int layerId,
                                                     bool NetControlNS::struAddress::*flag);

private:
    // With m_rosterMutex held: under admission of restarted slaves, puts `key` in the admitted set in
    // place of a key of the same IP whose roster entries have all gone silent, and removes those entries.
    // Returns the key replaced, or nothing.
    QString admitInPlaceOfSilentSlave(const NetControlNS::struAddress& partner, const QString& key, qint64 now,
                                      std::optional<NetControlNS::struAddress>& probe);
    // With m_rosterMutex held: whether the silent `candidate` is really gone: in a keyed group at once,
    // else once kProbeAsks questions sent to it (`probe`, when one is due) stayed unanswered.
    bool confirmedGone(const NetControlNS::struAddress& candidate, const QString& candidateKey, qint64 now,
                       std::optional<NetControlNS::struAddress>& probe);
    // With m_rosterMutex held: keeps the report for unadmitted().
    void noteUnadmitted(const NetControlNS::struAddress& partner, const QString& key, std::optional<qint64> now);

    const NetControlNS::slaveControlCbk* const m_cbk;  // not owned; for the host clock of the queries
    const ObjectFlags& m_flags;
    mutable std::mutex m_rosterMutex;                   // everything below; host threads and the worker
    std::vector<NetControlNS::struAddress> m_slaves;    // in order of arrival
    QSet<QString> m_slaveSet;
    std::vector<NetControlNS::struAddress> m_unadmittedPartners;  // newest last
    using Endpoint = std::pair<std::string, int>;  // ip, port
    std::map<Endpoint, std::uint16_t> m_capabilities;  // of admitted endpoints, as their reports said
    std::set<Endpoint> m_acknowledging;                // endpoints that acknowledged a command
    struct Probe
    {
        qint64 firstAskedUs;
        qint64 lastAskedUs;
        int asks;
        bool answered;
    };
    std::map<QString, Probe> m_probes;  // admitted keys asked whether they are still there
};

} // namespace tamo::detail
