// SPDX-License-Identifier: MIT
#include "TextTable.h"

#include <algorithm>

TextTable::TextTable(QStringList headers) : m_headers(std::move(headers)) {}

void TextTable::addRow(QStringList cells)
{
    while (cells.size() < m_headers.size())
        cells.append(QString());
    m_rows.push_back(std::move(cells));
}

QStringList TextTable::lines() const
{
    std::vector<int> widths;
    for (const QString& header : m_headers)
        widths.push_back(header.size());
    for (const QStringList& row : m_rows) {
        for (int i = 0; i < m_headers.size(); ++i)
            widths[std::size_t(i)] = std::max(widths[std::size_t(i)], int(row[i].size()));
    }
    auto render = [&](const QStringList& cells) {
        QString line;
        for (int i = 0; i < m_headers.size(); ++i)
            line += cells[i].leftJustified(widths[std::size_t(i)]) + QStringLiteral("  ");
        return line.trimmed();
    };
    QStringList out{render(m_headers)};
    QStringList rule;
    for (int width : widths)
        rule.append(QString(width, QLatin1Char('-')));
    out.append(render(rule));
    for (const QStringList& row : m_rows)
        out.append(render(row));
    return out;
}
