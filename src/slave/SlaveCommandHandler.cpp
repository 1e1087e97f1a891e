// SPDX-License-Identifier: MIT
#include "slave/SlaveCommandHandler.h"

#include "common/HostCalls.h"
#include "common/LogLine.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "wire/ReceivedDatagram.h"

namespace tamo::detail {

namespace {

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
                    currentLogTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(),
                    datagram.sender.port, entry.action);
        }
        (this->*entry.handler)(datagram);
        if (isAcknowledgedCommand(entry.code))
            m_parts.health.commandApplied(entry.code, std::uint16_t(datagram.seq()));
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
    m_parts.clockSync.setInterval(ClockSyncTasks::kIntervalAfterStartMs);
    callHost(m_parts.cbk, &Cbk::startCbk, datagram.layerId(), doubleAt(datagram, 0), doubleAt(datagram, 8),
             datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::speed(const ReceivedDatagram& datagram)
{
    callHost(m_parts.cbk, &Cbk::speedCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::step(const ReceivedDatagram& datagram)
{
    callHost(m_parts.cbk, &Cbk::stepCbk, datagram.layerId(), datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::stepBack(const ReceivedDatagram& datagram)
{
    callHost(m_parts.cbk, &Cbk::stepBackCbk, datagram.layerId(), datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::pause(const ReceivedDatagram& datagram)
{
    callHost(m_parts.cbk, &Cbk::pauseCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::stopClockSync(const ReceivedDatagram&)
{
    m_parts.clockSync.stop();
}

void SlaveCommandHandler::startClockSync(const ReceivedDatagram& datagram)
{
    learnMasterAddress(datagram.sender, "enM2SStartClockSyncCmd set master addr. ip = %s, port = %d\n");
    m_parts.clockSync.start();
}

void SlaveCommandHandler::prepare(const ReceivedDatagram& datagram)
{
    callHost(m_parts.cbk, &Cbk::prepareCbk, datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::stop(const ReceivedDatagram& datagram)
{
    m_parts.samples.reportReadyAgain();
    callHost(m_parts.cbk, &Cbk::stopCbk, datagram.layerId(), doubleAt(datagram, 0), datagram.userData(),
             datagram.userDataLength());
}

void SlaveCommandHandler::seek(const ReceivedDatagram& datagram)
{
    const SeekRecord record = decodeSeekRecord(datagram.payload(), datagram.payloadLength()).value_or(SeekRecord{});
    callHost(m_parts.cbk, &Cbk::seekCbk, datagram.layerId(), static_cast<qint64>(record.position), record.flag,
             record.value, datagram.userData(), datagram.userDataLength());
}

void SlaveCommandHandler::reportPosition(const ReceivedDatagram& datagram)
{
    logLine("=====> SLAVE handle_message(Time:%s, Seq:%d) master player's ip:port(%s:%d) : slave report self "
            "position!\n",
            currentLogTime().c_str(), datagram.seq(), datagram.sender.ip.c_str(), datagram.sender.port);
    learnMasterAddress(datagram.sender, "enM2SFindPartnerCmd set master addr. ip = %s, port = %d\n");
    const NetControlNS::slaveControlCbk* cbk = m_parts.cbk;
    if (!cbk || !cbk->getLayerIdsCbk)
        return;
    // What this slave supports, for a master that repeats only to slaves that acknowledge; without
    // opt-ins the report stays as bare as it always was.
    Capabilities capabilities;
    if (m_parts.flags.has(NetControlNS::AcknowledgedDelivery))
        capabilities.bits |= Capabilities::AcknowledgedDelivery;
    if (m_parts.flags.has(NetControlNS::HealthReports))
        capabilities.bits |= Capabilities::HealthReports;
    if (m_parts.flags.m_keyed)
        capabilities.bits |= Capabilities::Keyed;
    const Payload payload = encodeCapabilities(capabilities);
    const int payloadLen = capabilities.bits ? payload.size : 0;
    // Answered to this sender, which need not be the learnt master address.
    for (int layerId : cbk->getLayerIdsCbk())
        m_parts.channel.send(enS2MReportPartnerCmd, layerId, payload.data(), payloadLen, nullptr, 0, datagram.sender);
}

void SlaveCommandHandler::heartbeatAnswered(const ReceivedDatagram&)
{
    if (const std::optional<qint64> now = hostClock(m_parts.cbk))
        m_parts.link.noteAnswer(*now);
}

void SlaveCommandHandler::takeClockSample(const ReceivedDatagram& datagram)
{
    const ClockSyncStamps stamps =
        decodeClockSyncStamps(datagram.payload(), datagram.payloadLength()).value_or(ClockSyncStamps{});
    const ClockSamples::Taken taken = m_parts.samples.take(stamps);
    if (!taken.answersARequest)
        logLineFrom(datagram.sender.ip, "MultiNetControl WARING clock answer from %s:%d to no request of this slave: left out\n",
                datagram.sender.ip.c_str(), datagram.sender.port);
    if (!taken.accepted)
        return;
    callHost(m_parts.cbk, &Cbk::clockOffsetCbk, taken.meanSeconds);
    if (!taken.reportReady)
        return;
    logLine("------------------ SLAVE send message: enS2MNotifyMasterClockPrepared ---------\n");
    m_parts.delivery.send(true, enS2MNotifyMasterClockPrepared, -1, nullptr, 0, nullptr, 0, datagram.sender,
                          {datagram.sender});
}

void SlaveCommandHandler::reportAcknowledged(const ReceivedDatagram& datagram)
{
    m_parts.delivery.acknowledged(datagram);
}

void SlaveCommandHandler::learnMasterAddress(const NetControlNS::struAddress& sender, const char* line)
{
    NetControlNS::struAddress previous;
    switch (m_parts.link.learn(sender, m_parts.flags.has(NetControlNS::FollowRestartedMaster), previous)) {
    case MasterLink::Learnt::Kept:
        return;
    case MasterLink::Learnt::First:
        logLine(line, sender.ip.c_str(), sender.port);
        return;
    case MasterLink::Learnt::Restarted:
        break;
    }
    // The master's program started again: its clock may be another one, and its roster knows nothing of
    // this slave's clock yet.
    m_parts.samples.startAfresh();
    logLine("MultiNetControl::setRecovery master %s started again (process %d, port %d; was process %d, port %d): "
            "following it\n",
            sender.ip.c_str(), sender.processId, sender.port, previous.processId, previous.port);
}

} // namespace tamo::detail
