// SPDX-License-Identifier: MIT
#include "support/DeliveryRecords.h"

#include "support/ChildControl.h"

#include <algorithm>

void Arrivals::record(double index, std::int64_t ns)
{
    if (index >= 0 && index < static_cast<double>(timeNs.size()))
        timeNs[static_cast<std::size_t>(index)] = ns;
    ++count;
    if (firstNs < 0)
        firstNs = ns;
    lastNs = ns;
}

void Arrivals::add(const Arrivals& other)
{
    for (std::size_t i = 0; i < timeNs.size() && i < other.timeNs.size(); ++i) {
        if (other.timeNs[i] >= 0)
            timeNs[i] = other.timeNs[i];
    }
    count += other.count;
    if (other.firstNs >= 0)
        firstNs = firstNs < 0 ? other.firstNs : std::min(firstNs, other.firstNs);
    lastNs = std::max(lastNs, other.lastNs);
}

void Arrivals::report(ChildControl& control) const
{
    for (std::size_t i = 0; i < timeNs.size(); ++i) {
        if (timeNs[i] >= 0)
            control.send("arrival " + std::to_string(i) + " " + std::to_string(timeNs[i]));
    }
    control.send("arrivals " + std::to_string(count) + " " + std::to_string(firstNs) + " " + std::to_string(lastNs));
}

Arrivals Arrivals::parse(const Lines& lines, std::size_t slotCount)
{
    Arrivals arrivals(slotCount);
    for (const auto& fields : lines) {
        if (fields.size() == 3 && fields[0] == "arrival") {
            const std::size_t index = std::stoul(fields[1]);
            if (index < slotCount)
                arrivals.timeNs[index] = std::stoll(fields[2]);
        } else if (fields.size() == 4 && fields[0] == "arrivals") {
            arrivals.count = std::stoul(fields[1]);
            arrivals.firstNs = std::stoll(fields[2]);
            arrivals.lastNs = std::stoll(fields[3]);
        }
    }
    return arrivals;
}

int groupOfCommand(std::size_t index)
{
    // SplitMix64's finalizer of the pair's number.
    std::uint64_t x = static_cast<std::uint64_t>(index / 2) + 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<int>((index + (x & 1)) % 2);
}

void Sends::report(ChildControl& control) const
{
    for (std::size_t i = 0; i < beforeNs.size(); ++i) {
        if (beforeNs[i] >= 0)
            control.send("sent " + std::to_string(i) + " " + std::to_string(beforeNs[i]) + " "
                         + std::to_string(afterNs[i]) + " " + std::to_string(cpuNs[i]));
    }
}

Sends Sends::parse(const Lines& lines, std::size_t slotCount)
{
    Sends sends(slotCount);
    for (const auto& fields : lines) {
        if (fields.size() == 5 && fields[0] == "sent") {
            const std::size_t index = std::stoul(fields[1]);
            if (index < slotCount) {
                sends.beforeNs[index] = std::stoll(fields[2]);
                sends.afterNs[index] = std::stoll(fields[3]);
                sends.cpuNs[index] = std::stoll(fields[4]);
            }
        }
    }
    return sends;
}
