// SPDX-License-Identifier: MIT
// A player's configuration file (/etc/multinet-player/NAME.conf, `multinet-player --config FILE`): one
// `key = value` a line, the keys those of the command-line options without their dashes (a flag as
// `fullscreen = true`), and `role = master` or `role = slave` for the subcommand; blank lines and lines
// that start with '#' are left out. This reads the lines; PlayerConfiguration makes options of them.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

struct ConfigFile
{
    struct Line
    {
        QString key;
        QString value;
        int number = 0;  // from 1
    };

    // A configuration is a few lines: anything longer is not one (or is a device that never ends).
    static constexpr qint64 kMostBytes = 64 * 1024;

    QString path;
    QString role;     // "master", "slave", or empty when the file does not say
    int roleLine = 0;
    std::vector<Line> options;  // every line but the role's, in the file's order

    // "PATH:LINE: what", the form of every refusal of a line.
    QString at(int line, const QString& what) const;

    // The file at `path`; nothing, with `error` set to one line that names the file (and the line), when
    // it cannot be read or a line is malformed, repeats a key or names a key no file may hold.
    static std::optional<ConfigFile> read(const QString& path, QString& error);
    // The same for `text`, the content of the file at `path`.
    static std::optional<ConfigFile> parse(const QByteArray& text, const QString& path, QString& error);
};
