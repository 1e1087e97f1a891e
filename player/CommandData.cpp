// SPDX-License-Identifier: MIT
#include "CommandData.h"

#include <QStringList>

CommandData CommandData::parse(const char* data, int len)
{
    CommandData parsed;
    if (!data || len <= 0)
        return parsed;
    const QString text = QString::fromUtf8(data, len);
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int eq = word.indexOf(QLatin1Char('='));
        if (eq > 0)
            parsed.m_values[word.left(eq)] = word.mid(eq + 1);
    }
    return parsed;
}

CommandData& CommandData::set(const QString& key, const QString& value)
{
    m_values[key] = value;
    return *this;
}

CommandData& CommandData::set(const QString& key, qint64 value)
{
    return set(key, QString::number(value));
}

QString CommandData::value(const QString& key) const
{
    const auto it = m_values.find(key);
    return it == m_values.end() ? QString() : it->second;
}

std::optional<qint64> CommandData::integer(const QString& key) const
{
    bool ok = false;
    const qint64 number = value(key).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

QByteArray CommandData::bytes() const
{
    QStringList words;
    for (const auto& [key, value] : m_values)
        words.append(key + QLatin1Char('=') + value);
    return words.join(QLatin1Char(' ')).toUtf8();
}
