// SPDX-License-Identifier: MIT
#include "EventLine.h"

#include <QStringList>

#include <cstdio>

EventLine::EventLine(QString event) : m_event(std::move(event)) {}

EventLine& EventLine::add(const QString& key, const QString& value)
{
    QString word = value;
    word.replace(QLatin1Char(' '), QLatin1Char('_'));
    m_fields.emplace_back(key, word);
    return *this;
}

EventLine& EventLine::add(const QString& key, const char* value)
{
    return add(key, QString::fromUtf8(value));
}

EventLine& EventLine::add(const QString& key, qint64 value)
{
    return add(key, QString::number(value));
}

EventLine& EventLine::add(const QString& key, int value)
{
    return add(key, QString::number(value));
}

EventLine& EventLine::add(const QString& key, bool value)
{
    return add(key, QString::number(value ? 1 : 0));
}

EventLine& EventLine::add(const QString& key, double value, int decimals)
{
    return add(key, QString::number(value, 'f', decimals));
}

QString EventLine::text() const
{
    QString line = QLatin1String(kPrefix) + m_event;
    for (const auto& field : m_fields)
        line += QLatin1Char(' ') + field.first + QLatin1Char('=') + field.second;
    return line;
}

void EventLine::print() const
{
    printOutputLine(text());
}

std::optional<EventLine> EventLine::parse(const QString& line)
{
    if (!line.startsWith(QLatin1String(kPrefix)))
        return std::nullopt;
    const QStringList words = line.mid(int(sizeof kPrefix) - 1).trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return std::nullopt;
    EventLine parsed(words.front());
    for (int i = 1; i < words.size(); ++i) {
        const int equals = words[i].indexOf(QLatin1Char('='));
        if (equals > 0)
            parsed.m_fields.emplace_back(words[i].left(equals), words[i].mid(equals + 1));
    }
    return parsed;
}

bool EventLine::has(const QString& key) const
{
    for (const auto& field : m_fields) {
        if (field.first == key)
            return true;
    }
    return false;
}

QString EventLine::value(const QString& key) const
{
    for (const auto& field : m_fields) {
        if (field.first == key)
            return field.second;
    }
    return QString();
}

qint64 EventLine::integer(const QString& key, qint64 fallback) const
{
    bool ok = false;
    const qint64 number = value(key).toLongLong(&ok);
    return ok ? number : fallback;
}

double EventLine::real(const QString& key, double fallback) const
{
    bool ok = false;
    const double number = value(key).toDouble(&ok);
    return ok ? number : fallback;
}

void printOutputLine(const QString& text)
{
    // One write per line: stdio locks the stream per call, so the library's lines never cut into ours.
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}
