// SPDX-License-Identifier: MIT
// The master's playback commands and the slave's two reports.
#include "MultiNetControl.h"

#include "common/LogLine.h"
#include "control/MultiNetControlPrivate.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"

using namespace tamo::detail;

namespace {

constexpr int kPrepareUserDataWarnAbove = 2048;

} // namespace

bool MultiNetControl::notifySlavePrepareAsync(int layerId, char* userData, int userDataLen)
{
    if (!m_impl->m_flags.m_isMaster)
        return false;
    if (userDataLen > kPrepareUserDataWarnAbove)
        logLine("WARING: user data too much!\n");
    return m_impl->sendMasterCommand(enM2SPrepareCmd, "notifySlavePrepareAsync", layerId, nullptr, 0, userData, userDataLen,
                             "send prepare to slave.\n");
}

bool MultiNetControl::notifySlaveStart(double first, double second, int layerId, char* userData, int userDataLen)
{
    if (!m_impl->m_flags.m_isMaster)
        return false;
    m_impl->m_clockSync.setInterval(ClockSyncTasks::kIntervalAfterStartMs);
    const Payload payload = encodeDoubles(first, second);
    return m_impl->sendMasterCommand(enM2SStartCmd, "notifySlaveStart", layerId, payload.data(), payload.size, userData,
                             userDataLen, "send start to slave.\n");
}

bool MultiNetControl::notifySlavePause(double value, int layerId, char* userData, int userDataLen)
{
    const Payload payload = encodeDoubles(value);
    return m_impl->sendMasterCommand(enM2SPauseCmd, "notifySlavePause", layerId, payload.data(), payload.size, userData,
                             userDataLen, "send pause to slave.\n");
}

bool MultiNetControl::notifySlaveStop(double value, int layerId, char* userData, int userDataLen)
{
    const Payload payload = encodeDoubles(value);
    return m_impl->sendMasterCommand(enM2SStopCmd, "notifySlaveStop", layerId, payload.data(), payload.size, userData,
                             userDataLen, "===send stop to slave.\n");
}

bool MultiNetControl::notifySlaveSeek(qint64 position, bool flag, int layerId, double value, char* userData,
                                      int userDataLen)
{
    const Payload payload = encodeSeekRecord(SeekRecord{position, flag, value});
    return m_impl->sendMasterCommand(enM2SSeekCmd, "notifySlaveSeek", layerId, payload.data(), payload.size, userData,
                             userDataLen, "send seek to slave.\n");
}

bool MultiNetControl::notifySlaveSpeed(double speed, int layerId, char* userData, int userDataLen)
{
    const Payload payload = encodeDoubles(speed);
    if (!m_impl->sendMasterCommand(enM2SSpeedCmd, "notifySlaveSpeed", layerId, payload.data(), payload.size, userData,
                           userDataLen, nullptr))
        return false;
    logLine("send speed to slave! speed = %lf\n", speed);
    return true;
}

bool MultiNetControl::notifySlaveStep(int layerId, char* userData, int userDataLen)
{
    return m_impl->sendMasterCommand(enM2SStepCmd, "notifySlaveStep", layerId, nullptr, 0, userData, userDataLen,
                             "send step to slave!\n");
}

bool MultiNetControl::notifySlaveStepBack(int layerId, char* userData, int userDataLen)
{
    return m_impl->sendMasterCommand(enM2SStepBackCmd, "notifySlaveStepBack", layerId, nullptr, 0, userData, userDataLen,
                             "send step back to slave!\n");
}

bool MultiNetControl::notifySlaveStartClockSync()
{
    if (!m_impl->m_flags.m_isMaster)
        return false;
    // Claimed before sending, so that two threads (or two objects) never both send it.
    bool expected = false;
    if (!m_haveStartClockSync.compare_exchange_strong(expected, true))
        return false;
    return m_impl->sendMasterCommand(enM2SStartClockSyncCmd, "notifySlaveStartClockSync", -1, nullptr, 0, nullptr, 0,
                             "send cmd notify slave start clock sync thread!\n");
}

bool MultiNetControl::notifySlaveStopClockSync()
{
    return m_impl->sendMasterCommand(enM2SStopClockSyncCmd, "notifySlaveStopClockSync", -1, nullptr, 0, nullptr, 0,
                             "send cmd notify slave stop clock sync thread!\n");
}

bool MultiNetControl::reportPrepared(int layerId)
{
    return m_impl->sendSlaveReport(enS2MReportPreparedCmd, layerId);
}

bool MultiNetControl::reportComplete(int layerId)
{
    return m_impl->sendSlaveReport(enS2MNotifyComplete, layerId);
}
