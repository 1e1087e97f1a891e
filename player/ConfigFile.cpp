// SPDX-License-Identifier: MIT
#include "ConfigFile.h"

#include <QFile>
#include <QList>

namespace {

// An option's name as the command line spells it after its dashes.
bool isOptionName(const QString& key)
{
    if (key.isEmpty() || key.front() == QLatin1Char('-'))
        return false;
    for (const QChar c : key) {
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('-')))
            return false;
    }
    return true;
}

// Empty, or why a file must not hold `key`: --config would name another file, --help would print the help.
QString refusalOfKey(const QString& key)
{
    if (key.startsWith(QLatin1Char('-'))) {
        int dashes = 0;
        while (dashes < key.size() && key[dashes] == QLatin1Char('-'))
            ++dashes;
        return QStringLiteral("write the option without its dashes: '%1'").arg(key.mid(dashes));
    }
    if (!isOptionName(key))
        return QStringLiteral("'%1' is no option's name (lower-case letters, digits and '-')").arg(key);
    if (key == QLatin1String("config") || key == QLatin1String("help"))
        return QStringLiteral("'%1' belongs on the command line, not in a configuration file").arg(key);
    return QString();
}

// The line that set `key` already; 0 when none did.
int lineOf(const ConfigFile& config, const QString& key)
{
    if (key == QLatin1String("role"))
        return config.roleLine;
    for (const ConfigFile::Line& seen : config.options) {
        if (seen.key == key)
            return seen.number;
    }
    return 0;
}

} // namespace

QString ConfigFile::at(int line, const QString& what) const
{
    return QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(what);
}

std::optional<ConfigFile> ConfigFile::read(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: cannot read it: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray text = file.read(kMostBytes + 1);
    if (text.size() > kMostBytes) {
        error = QStringLiteral("%1: longer than %2 bytes, which no configuration is").arg(path).arg(kMostBytes);
        return std::nullopt;
    }
    return parse(text, path, error);
}

std::optional<ConfigFile> ConfigFile::parse(const QByteArray& text, const QString& path, QString& error)
{
    ConfigFile config;
    config.path = path;
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        const QString line = QString::fromUtf8(lines[index]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            error = config.at(number, QStringLiteral("expected 'key = value', got '%1'").arg(line));
            return std::nullopt;
        }
        Line option{line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), number};
        if (const QString refusal = refusalOfKey(option.key); !refusal.isEmpty()) {
            error = config.at(number, refusal);
            return std::nullopt;
        }
        if (const int earlier = lineOf(config, option.key); earlier > 0) {
            error = config.at(number, QStringLiteral("%1 is set on line %2 already").arg(option.key).arg(earlier));
            return std::nullopt;
        }
        if (option.key != QLatin1String("role")) {
            config.options.push_back(std::move(option));
            continue;
        }
        if (option.value != QLatin1String("master") && option.value != QLatin1String("slave")) {
            error = config.at(number, QStringLiteral("role takes master or slave, got '%1'").arg(option.value));
            return std::nullopt;
        }
        config.role = option.value;
        config.roleLine = number;
    }
    return config;
}
