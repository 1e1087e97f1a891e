// SPDX-License-Identifier: MIT
#include "slave/SlaveCommandHandler.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "sending/DeliveryRepeater.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"
#include "slave/ClockEstimator.h"
#include "slave/ClockSampleMath.h"

namespace tamo::detail {

namespace {

constexpr quint16 kSyncIntervalAfterStartMs = 3000;

using Cbk = NetControlNS::slaveControlCbk;

} // namespace

void SlaveCommandHandler::handle(const ReceivedDatagram& datagram)
{
    using Handler = void (SlaveCommandHandler::*)(const ReceivedDatagram&);
    // `action` completes the common log line; commands without it print their own line or none.
    static const struct
    {
        std::uint16_t code;
        const char* action;
        Handler handler;
    } kHandlers[] = {
        {enM2SStartCmd, "start", &SlaveCommandHandler::start},
        {enM2SSpeedCmd, "speed", &SlaveCommandHandler::speed},
        {enM2SStepCmd, "step", &SlaveCommandHandler::step},
        {enM2SStepBackCmd, "step back", &SlaveCommandHandler::stepBack},
        {enM2SPauseCmd, "pasue", &SlaveCommandHandler::pause},
        {enM2SStopClockSyncCmd, "stop sync thread", &SlaveCommandHandler::stopClockSync},
        {enM2SStartClockSyncCmd, nullptr, &SlaveCommandHandler::startClockSync},
        {enM2SPrepareCmd, nullptr, &SlaveCommandHandler::prepare},
        {enM2SStopCmd, "stop", &SlaveCommandHandler::stop},
        {enM2SSeekCmd, "seek", &SlaveCommandHandler::seek},
        {enM2SFindPartnerCmd, nullptr, &SlaveCommandHandler::reportPosition},
        {enM2SHeartbeatReplyCmd, nullptr, &SlaveCommandHandler::heartbeatAnswered},
        {enM2SClockSyncReplyCmd, nullptr, &SlaveCommandHandler::takeClockSample},
        {enM2SReportAckCmd, nullptr, &SlaveCommandHandler::reportAcknowledged},
    };
    for (const auto& entry : kHandlers) {
        if (entry.code != datagram.code())
            continue;
        if (entry.action) {
            logLine("=====> SLAVE handle_message(Time:%s, Seq:%d) remote(%s:%d) slave %s!\n",
                    m_control.getCurrentTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(),
                    datagram.sender.port, entry.action);
        }
        (this->*entry.handler)(datagram);
        return;
    }
}

double SlaveCommandHandler::doubleAt(const ReceivedDatagram& datagram, std::size_t offset) const
{
    // The completeness test has made sure that the payload holds what the code needs.
    return decodeDouble(datagram.payload(), datagram.payloadLength(), offset).value_or(0.0);
}

void SlaveCommandHandler::start(const ReceivedDatagram& datagram)
{
    m_control.m_syncIntervalMs = kSyncIntervalAfterStartMs;
    callHost(m_control.m_cbk, &Cbk::startCbk, datagram.layerId(), doubleAt(datagram, 0), doubleAt(datagram, 8),
             datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::speed(const ReceivedDatagram& datagram)
{
    callHost(m_control.m_cbk, &Cbk::speedCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::step(const ReceivedDatagram& datagram)
{
    callHost(m_control.m_cbk, &Cbk::stepCbk, datagram.layerId(), datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::stepBack(const ReceivedDatagram& datagram)
{
    callHost(m_control.m_cbk, &Cbk::stepBackCbk, datagram.layerId(), datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::pause(const ReceivedDatagram& datagram)
{
    callHost(m_control.m_cbk, &Cbk::pauseCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::stopClockSync(const ReceivedDatagram&)
{
    m_control.stopClockSyncThreads();
}

void SlaveCommandHandler::startClockSync(const ReceivedDatagram& datagram)
{
    learnMasterAddress(datagram.sender, "enM2SStartClockSyncCmd set master addr. ip = %s, port = %d\n");
    m_control.startClockSyncThreads();
}

void SlaveCommandHandler::prepare(const ReceivedDatagram& datagram)
{
    callHost(m_control.m_cbk, &Cbk::prepareCbk, datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::stop(const ReceivedDatagram& datagram)
{
    m_control.m_clockPreparedSent = false;
    callHost(m_control.m_cbk, &Cbk::stopCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::seek(const ReceivedDatagram& datagram)
{
    const SeekRecord record = decodeSeekRecord(datagram.payload(), datagram.payloadLength()).value_or(SeekRecord{});
    callHost(m_control.m_cbk, &Cbk::seekCbk, datagram.layerId(), static_cast<qint64>(record.position), record.flag,
             record.value, datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::reportPosition(const ReceivedDatagram& datagram)
{
    logLine("=====> SLAVE handle_message(Time:%s, Seq:%d) master player's ip:port(%s:%d) : slave report self "
            "position!\n",
            m_control.getCurrentTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port);
    learnMasterAddress(datagram.sender, "enM2SFindPartnerCmd set master addr. ip = %s, port = %d\n");
    const NetControlNS::slaveControlCbk* cbk = m_control.m_cbk;
    if (!cbk || !cbk->getLayerIdsCbk)
        return;
    // Answered to this sender, which need not be the learnt master address.
    for (int layerId : cbk->getLayerIdsCbk())
        m_control.sendDatagram(enS2MReportPartnerCmd, layerId, nullptr, 0, nullptr, 0, datagram.sender);
}

void SlaveCommandHandler::heartbeatAnswered(const ReceivedDatagram&)
{
    if (const std::optional<qint64> now = hostClock(m_control.m_cbk))
        m_control.m_lastMasterTime = *now;
}

void SlaveCommandHandler::takeClockSample(const ReceivedDatagram& datagram)
{
    const ClockSyncStamps stamps =
        decodeClockSyncStamps(datagram.payload(), datagram.payloadLength()).value_or(ClockSyncStamps{});
    const ClockMeasurement measured = measureClock(stamps);
    m_control.m_netDelayDelt = measured.delayUs;
    m_control.m_clockOffset = measured.offsetUs;
    switch (judgeDelay(measured.delayUs)) {
    case DelayVerdict::Slow:
        logLine("  ---------------------------- m_netDelayDelt >0.8 ms and <3 ms !!!!!! ---------------------------\n");
        return;
    case DelayVerdict::TooSlow:
        logLine("  ---------------------------- m_netDelayDelt >3 ms !!!!!! ---------------------------\n");
        return;
    case DelayVerdict::Accepted:
        break;
    }
    // Slots 2 and 3 are this host's departure and arrival stamps.
    m_control.m_clockEstimator->add(stamps.slot[2], stamps.slot[3], measured.offsetUs);
    {
        std::lock_guard<std::mutex> lock(m_control.m_clockEstimateMutex);
        m_control.m_clockEstimate = m_control.m_clockEstimator->estimate();
    }
    m_control.m_offsetMean = addOffsetSample(static_cast<double>(measured.offsetUs) / 1000000.0,
                                             m_control.m_offsetSamples, m_control.m_offsetIndex,
                                             m_control.m_offsetSum);
    callHost(m_control.m_cbk, &Cbk::clockOffsetCbk, m_control.m_offsetMean);
    m_control.m_clockSynced = true;
    if (!m_control.m_clockPreparedSent) {
        logLine("------------------ SLAVE send message: enS2MNotifyMasterClockPrepared ---------\n");
        m_control.m_clockPreparedSent = true;
        std::vector<char> sent;
        const bool acknowledged = m_control.m_acknowledgedDelivery;
        m_control.sendDatagram(enS2MNotifyMasterClockPrepared, -1, nullptr, 0, nullptr, 0, datagram.sender,
                               acknowledged ? &sent : nullptr);
        if (acknowledged)
            m_control.repeatUntilAcknowledged(std::move(sent), {datagram.sender});
    }
}

void SlaveCommandHandler::reportAcknowledged(const ReceivedDatagram& datagram)
{
    if (const std::optional<Acknowledgement> ack = decodeAcknowledgement(datagram.payload(), datagram.payloadLength()))
        m_control.m_repeater->acknowledged(ack->code, ack->seq, DeliveryPeer{datagram.sender.ip, datagram.sender.port});
}

void SlaveCommandHandler::learnMasterAddress(const NetControlNS::struAddress& sender, const char* line)
{
    NetControlNS::struAddress previous;
    {
        std::lock_guard<std::mutex> lock(m_control.m_addressMutex);
        previous = m_control.m_masterAddr;
        const bool known = !previous.ip.empty() && previous.port != 0;
        const bool restarted = previous.port != sender.port || previous.processId != sender.processId;
        if (known && !(m_control.m_recovery && restarted))
            return;
        m_control.m_masterAddr = sender;
        if (!known) {
            logLine(line, sender.ip.c_str(), sender.port);
            return;
        }
    }
    // The master's program started again: its clock may be another one, and its roster knows nothing of
    // this slave's clock yet.
    m_control.m_clockEstimator->reset();
    {
        std::lock_guard<std::mutex> lock(m_control.m_clockEstimateMutex);
        m_control.m_clockEstimate = m_control.m_clockEstimator->estimate();
    }
    m_control.m_clockPreparedSent = false;
    logLine("MultiNetControl::setRecovery master %s started again (process %d, port %d; was process %d, port %d): "
            "following it\n",
            sender.ip.c_str(), sender.processId, sender.port, previous.processId, previous.port);
}

} // namespace tamo::detail
