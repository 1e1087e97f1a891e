// SPDX-License-Identifier: MIT
// The master branch of handle_message: what a master does with the datagrams of its slaves.
#pragma once

#include "MultiNetControl.h"
#include "common/LogLine.h"

#include <QString>

#include <optional>

namespace tamo::detail {

struct ReceivedDatagram;

class MasterReportHandler
{
public:
    explicit MasterReportHandler(MultiNetControl& control) : m_control(control) {}

    // Codes other than 200 to 205 and 207 do nothing.
    void handle(const ReceivedDatagram& datagram);

private:
    void answerClockSyncRequest(const ReceivedDatagram& datagram);
    void answerHeartbeat(const ReceivedDatagram& datagram);
    void admitPartner(const ReceivedDatagram& datagram);
    // With m_rosterMutex held: under setAdmitRestartedSlaves, puts `key` in the admitted set in place of a
    // key of the same IP whose roster entries have all gone silent, and removes those entries. Returns
    // the key replaced, or nothing.
    QString admitInPlaceOfSilentSlave(const NetControlNS::struAddress& partner, const QString& key,
                                      std::optional<qint64> now);
    // With m_rosterMutex held: keeps the report for getUnadmittedPartners().
    void noteUnadmitted(const NetControlNS::struAddress& partner, const QString& key, std::optional<qint64> now);
    void commandAcknowledged(const ReceivedDatagram& datagram);
    void markClockSynced(const ReceivedDatagram& datagram);
    void markPrepared(const ReceivedDatagram& datagram);
    void markComplete(const ReceivedDatagram& datagram);
    // The lines of a report are printed at any rate when an admitted slave sends it; others may be forged
    // by anybody, and a flood of them is cut down.
    LineRate rateOfReportLine(const NetControlNS::struAddress& sender) const;
    // Sets `flag` on every entry of the sender's endpoint and layer, then prints `entryLine` for each.
    void setFlagOfSenderLayer(const ReceivedDatagram& datagram, bool NetControlNS::struAddress::*flag,
                              const char* entryLine);

    MultiNetControl& m_control;
};

} // namespace tamo::detail
