// SPDX-License-Identifier: MIT
// The message codes of the protocol: 2xx from a slave, 3xx from the master (206 and 307 are the master's
// answers to 205 and 202). 207 and 313 are the acknowledgements of acknowledged delivery, which both ends
// switch on (MultiNetControl::setAcknowledgedDelivery); 208 is a slave's health report (the option
// HealthReports). A node without the option ignores them as unknown codes.
#pragma once

#include <cstdint>

namespace tamo::detail {

enum MessageCode : std::uint16_t {
    enS2MReportPreparedCmd = 200,
    enS2MReportPartnerCmd = 201,
    enS2MClockSyncRequestCmd = 202,
    enS2MNotifyMasterClockPrepared = 203,
    enS2MNotifyComplete = 204,
    enS2MHeartbeatCmd = 205,
    enM2SHeartbeatReplyCmd = 206,
    enS2MCommandAckCmd = 207,
    enS2MHealthReportCmd = 208,
    enM2SFindPartnerCmd = 300,
    enM2SStartCmd = 301,
    enM2SPauseCmd = 302,
    enM2SStopCmd = 303,
    enM2SPrepareCmd = 304,
    enM2SSeekCmd = 305,
    enM2SClockSyncReplyCmd = 307,
    enM2SStartClockSyncCmd = 308,
    enM2SStopClockSyncCmd = 309,
    enM2SSpeedCmd = 310,
    enM2SStepCmd = 311,
    enM2SStepBackCmd = 312,
    enM2SReportAckCmd = 313,
};

// Master commands that a slave acknowledges with 207 under acknowledged delivery: the playback commands
// and the start and stop of clock synchronisation (a search is answered by partner reports instead).
bool isAcknowledgedCommand(std::uint16_t code);
// Slave reports that a master acknowledges with 313 under acknowledged delivery.
bool isAcknowledgedReport(std::uint16_t code);

// The least payload a datagram with this code must carry to be handled (0 for codes without payload
// and for unknown codes).
int requiredPayloadSize(std::uint16_t code);

} // namespace tamo::detail
