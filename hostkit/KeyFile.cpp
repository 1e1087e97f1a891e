// SPDX-License-Identifier: MIT
#include "KeyFile.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cctype>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// A key file is a few lines: anything longer is not one (or is a device that never ends).
constexpr qint64 kMostBytes = 64 * 1024;
constexpr int kHexDigits = 2 * KeyFile::kKeyBytes;

bool isDecimal(const QByteArray& word)
{
    return std::all_of(word.begin(), word.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool isHex(const QByteArray& word)
{
    return std::all_of(word.begin(), word.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// Adds the key of one line to `keys`; empty, or why the line is wrong. Never quotes the line: a key
// written in the wrong place would be printed.
QString takeLine(QByteArray line, std::vector<KeyFile::Key>& keys)
{
    const int comment = line.indexOf('#');
    if (comment >= 0)
        line.truncate(comment);
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() == 1 && words.front().isEmpty())
        return QString();
    if (words.size() != 2)
        return QStringLiteral("expected a key id and a key of %1 hex digits, separated by a blank").arg(kHexDigits);
    const QByteArray& idText = words[0];
    const int id = idText.size() <= 3 && isDecimal(idText) ? idText.toInt() : 0;
    if (id < 1 || id > 255)
        return QStringLiteral("the key id must be a whole number from 1 to 255");
    const QByteArray& hex = words[1];
    if (hex.size() != kHexDigits)
        return QStringLiteral("the key must be %1 hex digits (%2 bytes), it has %3 characters")
            .arg(kHexDigits)
            .arg(KeyFile::kKeyBytes)
            .arg(hex.size());
    if (!isHex(hex))
        return QStringLiteral("the key holds a character that is not a hex digit");
    if (std::any_of(keys.begin(), keys.end(), [id](const KeyFile::Key& key) { return key.id == id; }))
        return QStringLiteral("key id %1 a second time").arg(id);
    if (int(keys.size()) == KeyFile::kMostKeys)
        return QStringLiteral("a third key: a key file holds one or two");
    keys.push_back(KeyFile::Key{id, QByteArray::fromHex(hex).toStdString()});
    return QString();
}

// Empty, or why the open `file` must not hold keys.
QString refusalOfMode(const QFile& file)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    if (fstat(file.handle(), &status) != 0)
        return QStringLiteral("cannot read its mode");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    const unsigned mode = status.st_mode & 07777;
    const char* who = (mode & S_IROTH) ? "anyone read" : (mode & (S_IWGRP | S_IWOTH)) ? "others change" : nullptr;
    if (who)
        return QStringLiteral("its mode %1 lets %2 it: make it 0600, or 0640 to share it with a group")
            .arg(mode, 4, 8, QLatin1Char('0'))
            .arg(QLatin1String(who));
#else
    // No POSIX modes: who may read the file is up to the system's access lists.
    Q_UNUSED(file);
#endif
    return QString();
}

} // namespace

QString KeyFile::ids() const
{
    QStringList list;
    for (const Key& key : keys)
        list.append(QString::number(key.id));
    return list.join(QLatin1Char(','));
}

std::optional<KeyFile> KeyFile::read(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read it: ") + file.errorString();
        return std::nullopt;
    }
    // The mode of the file that was opened, not of whatever the path names a moment later.
    error = refusalOfMode(file);
    if (!error.isEmpty())
        return std::nullopt;
    const QByteArray text = file.read(kMostBytes + 1);
    if (text.size() > kMostBytes) {
        error = QStringLiteral("longer than %1 bytes: a key file holds a few lines").arg(kMostBytes);
        return std::nullopt;
    }
    std::optional<std::vector<Key>> keys = parse(text, error);
    if (!keys)
        return std::nullopt;
    return KeyFile{path, std::move(*keys)};
}

std::optional<std::vector<KeyFile::Key>> KeyFile::parse(const QByteArray& text, QString& error)
{
    std::vector<Key> keys;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString why = takeLine(lines[i], keys);
        if (!why.isEmpty()) {
            error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return std::nullopt;
        }
    }
    if (keys.empty()) {
        error = QStringLiteral("no key in it (lines 'ID HEX': a key id from 1 to 255 and %1 hex digits)").arg(kHexDigits);
        return std::nullopt;
    }
    return keys;
}
