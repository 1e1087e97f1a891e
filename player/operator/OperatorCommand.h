// SPDX-License-Identifier: MIT
// The operator's commands as the API takes them: POST /api/<name>, with a JSON body for those that take
// values (seek: {"position_s": S}; trim: {"screen": "IP_PID", "ms": whole MS}), and what came of each.
#pragma once

#include <QString>

#include <optional>
#include <string>

struct OperatorCommand
{
    enum Kind { Play, Pause, Seek, Next, Stop, Trim, Quit };
    // A trim within this many milliseconds either way: more is no trim but a wrong clip.
    static constexpr int kMaxTrimMs = 10000;

    Kind kind = Play;
    qint64 positionUs = 0;  // seek: where in the item that plays
    QString screen;         // trim: the screen's key
    int trimMs = 0;         // trim

    static const char* name(Kind kind);
    // The command that POST /api/`name` with `body` asks for; nothing, with `error` saying why, for an
    // unknown name or a body that lacks a value or holds a wrong one.
    static std::optional<OperatorCommand> parse(const std::string& name, const std::string& body, QString& error);
};

struct CommandResult
{
    enum Outcome { Done, Refused, Unsupported, Busy };

    Outcome outcome = Done;
    QString message;  // why it was refused, or a word on what was done

    static CommandResult done(QString message = {}) { return {Done, std::move(message)}; }
    static CommandResult refused(QString message) { return {Refused, std::move(message)}; }
};
