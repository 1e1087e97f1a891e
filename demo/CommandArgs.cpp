// SPDX-License-Identifier: MIT
#include "CommandArgs.h"

#include <cmath>

QString CommandArgs::text(int index, const QString& fallback) const
{
    return index < count() ? m_values[index] : fallback;
}

double CommandArgs::real(int index, const char* name, double fallback)
{
    if (index >= count() || !ok())
        return fallback;
    bool parsed = false;
    const double value = m_values[index].toDouble(&parsed);
    if (!parsed || !std::isfinite(value)) {
        fail(QStringLiteral("%1 must be a number, got '%2'").arg(QLatin1String(name), m_values[index]));
        return fallback;
    }
    return value;
}

qint64 CommandArgs::integer(int index, const char* name, qint64 fallback, qint64 min, qint64 max)
{
    if (index >= count() || !ok())
        return fallback;
    bool parsed = false;
    const qint64 value = m_values[index].toLongLong(&parsed);
    if (!parsed || value < min || value > max) {
        fail(QStringLiteral("%1 must be a whole number from %2 to %3, got '%4'")
                 .arg(QLatin1String(name))
                 .arg(min)
                 .arg(max)
                 .arg(m_values[index]));
        return fallback;
    }
    return value;
}

bool CommandArgs::flag(int index, const char* name, bool fallback)
{
    return integer(index, name, fallback ? 1 : 0, 0, 1) != 0;
}

int CommandArgs::layer(int index)
{
    return static_cast<int>(integer(index, "LAYER", -1, -1, 32767));
}

void CommandArgs::fail(const QString& message)
{
    if (ok())
        m_error = m_command + QStringLiteral(": ") + message;
}
