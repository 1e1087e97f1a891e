// SPDX-License-Identifier: MIT
// The payload of a slave's health report (code 208): a version and a length first, so that a later
// version can append fields and an earlier receiver still reads what it knows; a fixed part of 64 bytes;
// then the host's text, at most 64 bytes of UTF-8.
//
//   0 u16 version (1)          2 u16 length of the payload    4 u8 flags          5 u8 text length
//   6 u16 last command's code  8 f64 clock offset (us)        16 f64 rate (ppm)   24 f64 uncertainty (us)
//  32 u16 last command's seq  34 u16 zero                    36 u32 repeats dropped
//  40 i64 lateness p50 (us)   48 i64 lateness p99 (us)       56 u32 frames shown 60 u32 frames dropped
//  64 the text
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamo::detail {

struct HealthReport
{
    static constexpr std::uint16_t kVersion = 1;
    static constexpr int kFixedSize = 64;
    static constexpr int kMaxTextSize = 64;
    enum Flag : std::uint8_t {
        ClockValid = 1,
        RateKnown = 2,
        PresentationKnown = 4,
        CommandKnown = 8,
    };

    std::uint8_t flags = 0;
    double offsetUs = 0;
    double ratePpm = 0;
    double uncertaintyUs = 0;
    std::uint16_t lastCommandCode = 0;
    std::uint16_t lastCommandSeq = 0;
    std::uint32_t repeatsDropped = 0;
    std::int64_t lateP50Us = 0;
    std::int64_t lateP99Us = 0;
    std::uint32_t framesShown = 0;
    std::uint32_t framesDropped = 0;
    std::string text;  // at most kMaxTextSize bytes

    bool operator==(const HealthReport& other) const;
};

std::vector<char> encodeHealthReport(const HealthReport& report);
// Nothing when the payload is shorter than the fixed part, or its length or text length do not fit.
std::optional<HealthReport> decodeHealthReport(const char* payload, std::size_t len);
// `text` cut to at most kMaxTextSize bytes, at a character's boundary.
std::string fitHealthText(const std::string& text);

} // namespace tamo::detail
