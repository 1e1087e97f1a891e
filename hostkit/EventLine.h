// SPDX-License-Identifier: MIT
// The demo's own output lines: "[demo] <event> key=value ...". They share standard output with the
// library's diagnostic lines, so they carry a prefix of their own, and `run` and the multi-host tests
// read them back with parse().
#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

class EventLine
{
public:
    static constexpr char kPrefix[] = "[demo] ";

    explicit EventLine(QString event);

    // Values never hold blanks: a blank becomes '_' so that every field stays one word.
    EventLine& add(const QString& key, const QString& value);
    EventLine& add(const QString& key, const char* value);
    EventLine& add(const QString& key, qint64 value);
    EventLine& add(const QString& key, int value);
    EventLine& add(const QString& key, bool value);
    EventLine& add(const QString& key, double value, int decimals);

    QString text() const;
    // Writes the line to standard output, in one piece and flushed at once, from whatever thread.
    void print() const;

    // The event of a line that print() wrote, or nothing for any other line.
    static std::optional<EventLine> parse(const QString& line);

    const QString& event() const { return m_event; }
    bool has(const QString& key) const;
    QString value(const QString& key) const;   // empty when absent
    qint64 integer(const QString& key, qint64 fallback = 0) const;
    double real(const QString& key, double fallback = 0) const;

private:
    QString m_event;
    std::vector<std::pair<QString, QString>> m_fields;
};

// Writes one line of plain text (a table row, a message for a person) to standard output, flushed.
void printOutputLine(const QString& text);
