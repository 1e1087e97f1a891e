// SPDX-License-Identifier: MIT
// The values of one command line typed to the master, read by position with defaults. The first value
// that does not parse is remembered, with a message that names it; later reads return their defaults.
#pragma once

#include <QString>
#include <QStringList>

class CommandArgs
{
public:
    CommandArgs(QString command, QStringList values) : m_command(std::move(command)), m_values(std::move(values)) {}

    int count() const { return int(m_values.size()); }
    QString text(int index, const QString& fallback) const;
    double real(int index, const char* name, double fallback);
    qint64 integer(int index, const char* name, qint64 fallback, qint64 min, qint64 max);
    bool flag(int index, const char* name, bool fallback);
    // A layer id, -1 (every layer) by default.
    int layer(int index);

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }

private:
    void fail(const QString& message);

    QString m_command;
    QStringList m_values;
    QString m_error;
};
