// SPDX-License-Identifier: MIT
#include "wire/MessageCode.h"

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
    default:
        return 0;
    }
}

} // namespace tamo::detail
