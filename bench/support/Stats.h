// SPDX-License-Identifier: MIT
// Order statistics of a set of measurements.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Summary
{
    std::size_t count = 0;
    double mean = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

// Nearest-rank percentiles; all zero for an empty set.
Summary summarize(std::vector<double> values);
// "count mean p50 p99 max", and back: how a child process hands a summary to the driver.
std::string formatSummary(const Summary& summary);
Summary parseSummary(const std::vector<std::string>& fields, std::size_t first);
