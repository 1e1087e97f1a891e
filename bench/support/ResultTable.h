// SPDX-License-Identifier: MIT
// The one table that a benchmark run prints: a row per figure, the library's value beside the
// baseline measured in the same run, and their ratio.
#pragma once

#include <optional>
#include <string>
#include <vector>

class ResultTable
{
public:
    void add(std::string scenario, std::string figure, std::string library, std::string baseline = "-",
             std::optional<double> ratio = std::nullopt);
    // A Markdown table, so that the same text reads well in a terminal and in a README.
    std::string markdown() const;

private:
    struct Row
    {
        std::string scenario;
        std::string figure;
        std::string library;
        std::string baseline;
        std::string ratio;
    };
    std::vector<Row> m_rows;
};

// "12.3" style text of a value with `decimals` digits after the point.
std::string fixed(double value, int decimals = 1);
// `numerator / denominator`, or nothing when the denominator is not positive.
std::optional<double> ratioOf(double numerator, double denominator);
