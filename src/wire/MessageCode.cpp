// SPDX-License-Identifier: MIT
#include "wire/MessageCode.h"

#include "wire/HealthReport.h"
#include "wire/Payloads.h"

namespace tamo::detail {

int requiredPayloadSize(std::uint16_t code)
{
    switch (code) {
    case enM2SPauseCmd:
    case enM2SStopCmd:
    case enM2SSpeedCmd:
        return kOneDoubleSize;
    case enM2SStartCmd:
        return kTwoDoublesSize;
    case enM2SSeekCmd:
        return kSeekRecordSize;
    case enS2MClockSyncRequestCmd:
    case enM2SClockSyncReplyCmd:
        return kClockSyncStampsSize;
    case enS2MHealthReportCmd:
        return HealthReport::kFixedSize;
    default:
        return 0;
    }
}

bool isAcknowledgedCommand(std::uint16_t code)
{
    switch (code) {
    case enM2SStartCmd:
    case enM2SPauseCmd:
    case enM2SStopCmd:
    case enM2SPrepareCmd:
    case enM2SSeekCmd:
    case enM2SStartClockSyncCmd:
    case enM2SStopClockSyncCmd:
    case enM2SSpeedCmd:
    case enM2SStepCmd:
    case enM2SStepBackCmd:
        return true;
    default:
        return false;
    }
}

bool isAcknowledgedReport(std::uint16_t code)
{
    return code == enS2MReportPreparedCmd || code == enS2MNotifyComplete || code == enS2MNotifyMasterClockPrepared;
}

} // namespace tamo::detail
