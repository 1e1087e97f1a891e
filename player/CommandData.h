// SPDX-License-Identifier: MIT
// The user data that the players put on a command: "key=value" words separated by blanks, for what the
// command's own numbers do not carry (the media URI of a prepare, the instant of a speed change or a
// step, a tag that matches a slave's "received" line to the master's "sent" line).
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

class CommandData
{
public:
    CommandData() = default;
    // Parses what a callback received; words without '=' are ignored.
    static CommandData parse(const char* data, int len);

    CommandData& set(const QString& key, const QString& value);
    CommandData& set(const QString& key, qint64 value);
    QString value(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;

    // The wire form, with its bytes kept alive for the send call.
    QByteArray bytes() const;

private:
    std::map<QString, QString> m_values;
};
