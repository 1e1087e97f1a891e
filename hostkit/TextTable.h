// SPDX-License-Identifier: MIT
// A plain text table with aligned columns, for people reading a terminal.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class TextTable
{
public:
    explicit TextTable(QStringList headers);

    void addRow(QStringList cells);
    // The header, a rule and the rows, one string per line.
    QStringList lines() const;

private:
    QStringList m_headers;
    std::vector<QStringList> m_rows;
};
