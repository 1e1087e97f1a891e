// SPDX-License-Identifier: MIT
#include "wire/HealthReport.h"

#include "wire/ByteOrder.h"

namespace tamo::detail {

bool HealthReport::operator==(const HealthReport& o) const
{
    return flags == o.flags && offsetUs == o.offsetUs && ratePpm == o.ratePpm && uncertaintyUs == o.uncertaintyUs
           && lastCommandCode == o.lastCommandCode && lastCommandSeq == o.lastCommandSeq
           && repeatsDropped == o.repeatsDropped && lateP50Us == o.lateP50Us && lateP99Us == o.lateP99Us
           && framesShown == o.framesShown && framesDropped == o.framesDropped && text == o.text;
}

std::vector<char> encodeHealthReport(const HealthReport& report)
{
    const std::string text = fitHealthText(report.text);
    std::vector<char> out(HealthReport::kFixedSize + text.size(), 0);
    char* p = out.data();
    wire::putU16(p, HealthReport::kVersion);
    wire::putU16(p + 2, static_cast<std::uint16_t>(out.size()));
    p[4] = static_cast<char>(report.flags);
    p[5] = static_cast<char>(text.size());
    wire::putU16(p + 6, report.lastCommandCode);
    wire::putDouble(p + 8, report.offsetUs);
    wire::putDouble(p + 16, report.ratePpm);
    wire::putDouble(p + 24, report.uncertaintyUs);
    wire::putU16(p + 32, report.lastCommandSeq);
    wire::putU32(p + 36, report.repeatsDropped);
    wire::putI64(p + 40, report.lateP50Us);
    wire::putI64(p + 48, report.lateP99Us);
    wire::putU32(p + 56, report.framesShown);
    wire::putU32(p + 60, report.framesDropped);
    std::copy(text.begin(), text.end(), out.begin() + HealthReport::kFixedSize);
    return out;
}

std::optional<HealthReport> decodeHealthReport(const char* p, std::size_t len)
{
    if (len < std::size_t(HealthReport::kFixedSize))
        return std::nullopt;
    const std::size_t length = wire::getU16(p + 2);
    const std::size_t textSize = static_cast<std::uint8_t>(p[5]);
    // A later version may append fields after the text: only what this one knows is read.
    if (wire::getU16(p) < 1 || length > len || length < HealthReport::kFixedSize + textSize
        || textSize > std::size_t(HealthReport::kMaxTextSize))
        return std::nullopt;
    HealthReport report;
    report.flags = static_cast<std::uint8_t>(p[4]);
    report.lastCommandCode = wire::getU16(p + 6);
    report.offsetUs = wire::getDouble(p + 8);
    report.ratePpm = wire::getDouble(p + 16);
    report.uncertaintyUs = wire::getDouble(p + 24);
    report.lastCommandSeq = wire::getU16(p + 32);
    report.repeatsDropped = wire::getU32(p + 36);
    report.lateP50Us = wire::getI64(p + 40);
    report.lateP99Us = wire::getI64(p + 48);
    report.framesShown = wire::getU32(p + 56);
    report.framesDropped = wire::getU32(p + 60);
    report.text.assign(p + HealthReport::kFixedSize, textSize);
    return report;
}

std::string fitHealthText(const std::string& text)
{
    if (text.size() <= std::size_t(HealthReport::kMaxTextSize))
        return text;
    std::size_t end = HealthReport::kMaxTextSize;
    // Back to the start of a UTF-8 character: continuation bytes are 10xxxxxx.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace tamo::detail
