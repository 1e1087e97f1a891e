// SPDX-License-Identifier: MIT
#include "support/Stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>

namespace {

double nearestRank(const std::vector<double>& sorted, double fraction)
{
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

} // namespace

Summary summarize(std::vector<double> values)
{
    Summary summary;
    if (values.empty())
        return summary;
    std::sort(values.begin(), values.end());
    summary.count = values.size();
    summary.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    summary.p50 = nearestRank(values, 0.50);
    summary.p99 = nearestRank(values, 0.99);
    summary.max = values.back();
    return summary;
}

std::string formatSummary(const Summary& summary)
{
    std::ostringstream out;
    out << summary.count << ' ' << summary.mean << ' ' << summary.p50 << ' ' << summary.p99 << ' ' << summary.max;
    return out.str();
}

Summary parseSummary(const std::vector<std::string>& fields, std::size_t first)
{
    Summary summary;
    if (fields.size() < first + 5)
        return summary;
    summary.count = std::stoul(fields[first]);
    summary.mean = std::stod(fields[first + 1]);
    summary.p50 = std::stod(fields[first + 2]);
    summary.p99 = std::stod(fields[first + 3]);
    summary.max = std::stod(fields[first + 4]);
    return summary;
}
