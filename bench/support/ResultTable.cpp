// SPDX-License-Identifier: MIT
#include "support/ResultTable.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>

void ResultTable::add(std::string scenario, std::string figure, std::string library, std::string baseline,
                      std::optional<double> ratio)
{
    m_rows.push_back({std::move(scenario), std::move(figure), std::move(library), std::move(baseline),
                      ratio ? fixed(*ratio, 2) : std::string("-")});
}

std::string ResultTable::markdown() const
{
    const std::array<std::string, 5> headings{"Scenario", "Figure", "Library", "Baseline", "Ratio"};
    std::array<std::size_t, 5> widths{};
    const auto cells = [](const Row& row) {
        return std::array<std::string, 5>{row.scenario, row.figure, row.library, row.baseline, row.ratio};
    };
    for (std::size_t c = 0; c < widths.size(); ++c)
        widths[c] = headings[c].size();
    for (const Row& row : m_rows) {
        const auto texts = cells(row);
        for (std::size_t c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], texts[c].size());
    }
    std::ostringstream out;
    const auto line = [&](const std::array<std::string, 5>& texts) {
        out << '|';
        for (std::size_t c = 0; c < texts.size(); ++c)
            out << ' ' << texts[c] << std::string(widths[c] - texts[c].size(), ' ') << " |";
        out << '\n';
    };
    line(headings);
    out << '|';
    for (std::size_t width : widths)
        out << std::string(width + 2, '-') << '|';
    out << '\n';
    for (const Row& row : m_rows)
        line(cells(row));
    return out.str();
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::optional<double> ratioOf(double numerator, double denominator)
{
    if (denominator <= 0)
        return std::nullopt;
    return numerator / denominator;
}
