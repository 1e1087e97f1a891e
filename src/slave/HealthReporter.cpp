// SPDX-License-Identifier: MIT
#include "slave/HealthReporter.h"

#include "wire/HealthReport.h"
#include "wire/MessageCode.h"

namespace tamo::detail {

void HealthReporter::optionsChanged()
{
    if (!m_parts.flags.has(NetControlNS::HealthReports))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_reporting)
        return;
    m_reporting = true;
    m_parts.timer.add([this] { return report(); }, TimerThread::Clock::now() + kEvery);
}

void HealthReporter::commandApplied(std::uint16_t code, std::uint16_t seq)
{
    m_lastCommand = (std::uint32_t(code) << 16) | seq;
}

void HealthReporter::setPresentation(const NetControlNS::struPresentation& presentation)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_presentation = presentation;
}

void HealthReporter::setText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_text = fitHealthText(text);
}

std::optional<TimerThread::Clock::time_point> HealthReporter::report()
{
    HealthReport report;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_parts.flags.has(NetControlNS::HealthReports)) {
            m_reporting = false;
            return std::nullopt;
        }
        if (m_presentation) {
            report.flags |= HealthReport::PresentationKnown;
            report.lateP50Us = m_presentation->lateP50Us;
            report.lateP99Us = m_presentation->lateP99Us;
            report.framesShown = m_presentation->framesShown;
            report.framesDropped = m_presentation->framesDropped;
        }
        report.text = m_text;
    }
    const NetControlNS::struAddress master = m_parts.link.masterAddress();
    if (!m_parts.flags.m_isSlave || master.ip.empty() || master.port == 0)
        return TimerThread::Clock::now() + kEvery;
    const NetControlNS::struClockEstimate estimate = m_parts.samples.estimate();
    if (estimate.valid) {
        report.flags |= HealthReport::ClockValid | (estimate.rateKnown ? HealthReport::RateKnown : 0);
        report.offsetUs = estimate.offsetUs;
        report.ratePpm = estimate.ratePpm;
        report.uncertaintyUs = estimate.residualUs;
    }
    if (const std::uint32_t last = m_lastCommand) {
        report.flags |= HealthReport::CommandKnown;
        report.lastCommandCode = std::uint16_t(last >> 16);
        report.lastCommandSeq = std::uint16_t(last & 0xFFFF);
    }
    report.repeatsDropped = m_parts.delivery.repeatsDropped();
    const std::vector<char> payload = encodeHealthReport(report);
    m_parts.channel.send(enS2MHealthReportCmd, -1, payload.data(), int(payload.size()), nullptr, 0, master);
    return TimerThread::Clock::now() + kEvery;
}

} // namespace tamo::detail
