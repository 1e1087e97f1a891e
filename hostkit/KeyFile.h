// SPDX-License-Identifier: MIT
// The key file of a keyed group (--key-file of the demo and the player): one or two lines "ID HEX", a key
// id from 1 to 255 and the key as 64 hex digits (32 bytes); blank lines and '#' comments are allowed. The
// first key signs and both are accepted, as MultiNetControl::setGroupKeys() takes them.
//
// A file that others may read, or that its group or others may change, is refused: the key is the
// group's only secret. No message ever holds a key, nor any text of the file but a line number.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

struct KeyFile
{
    struct Key
    {
        int id = 0;
        std::string secret;  // the 32 bytes
    };

    static constexpr int kMostKeys = 2;
    static constexpr int kKeyBytes = 32;

    QString path;
    std::vector<Key> keys;  // the first signs

    // The ids, the signing one first: "2,1".
    QString ids() const;

    // The file at `path`; nothing, with `error` set to one line of why (its mode, or which line and what
    // is wrong with it), when it cannot be taken.
    static std::optional<KeyFile> read(const QString& path, QString& error);
    // The keys in `text`, a key file's content; nothing, with `error` set, when it is malformed.
    static std::optional<std::vector<Key>> parse(const QByteArray& text, QString& error);
};
