// SPDX-License-Identifier: MIT
#include "OperatorCommand.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr std::array<std::pair<OperatorCommand::Kind, const char*>, 7> kNames{{
    {OperatorCommand::Play, "play"},
    {OperatorCommand::Pause, "pause"},
    {OperatorCommand::Seek, "seek"},
    {OperatorCommand::Next, "next"},
    {OperatorCommand::Stop, "stop"},
    {OperatorCommand::Trim, "trim"},
    {OperatorCommand::Quit, "quit"},
}};

// The body's JSON object; nothing, with `error` set, for anything else.
std::optional<QJsonObject> bodyObject(const std::string& body, QString& error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &parseError);
    if (!document.isObject()) {
        error = QStringLiteral("the body must be a JSON object");
        return std::nullopt;
    }
    return document.object();
}

// A finite number under `key` within [min, max]; nothing, with `error` set, otherwise.
std::optional<double> numberIn(const QJsonObject& object, const char* key, double min, double max, QString& error)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble() || !std::isfinite(value.toDouble()) || value.toDouble() < min || value.toDouble() > max) {
        error = QStringLiteral("\"%1\" must be a number from %2 to %3").arg(QLatin1String(key)).arg(min).arg(max);
        return std::nullopt;
    }
    return value.toDouble();
}

} // namespace

const char* OperatorCommand::name(Kind kind)
{
    for (const auto& [k, text] : kNames) {
        if (k == kind)
            return text;
    }
    return "?";
}

std::optional<OperatorCommand> OperatorCommand::parse(const std::string& name, const std::string& body, QString& error)
{
    OperatorCommand command;
    bool known = false;
    for (const auto& [kind, text] : kNames) {
        if (name == text) {
            command.kind = kind;
            known = true;
        }
    }
    if (!known) {
        error = QStringLiteral("no such command; the commands are play, pause, seek, next, stop, trim, quit");
        return std::nullopt;
    }
    if (command.kind == Seek) {
        constexpr double kMaxSeconds = 10000;  // a play's longest item (Programme::kPlaySpanNs)
        const std::optional<QJsonObject> object = bodyObject(body, error);
        const std::optional<double> seconds = object ? numberIn(*object, "position_s", 0, kMaxSeconds, error) : std::nullopt;
        if (!seconds)
            return std::nullopt;
        command.positionUs = std::llround(*seconds * 1e6);
    } else if (command.kind == Trim) {
        const std::optional<QJsonObject> object = bodyObject(body, error);
        if (!object)
            return std::nullopt;
        command.screen = object->value(QLatin1String("screen")).toString();
        if (command.screen.isEmpty()) {
            error = QStringLiteral("\"screen\" must name a screen by its key, IP_PID");
            return std::nullopt;
        }
        const std::optional<double> ms = numberIn(*object, "ms", -kMaxTrimMs, kMaxTrimMs, error);
        if (!ms)
            return std::nullopt;
        // Screens are trimmed by whole milliseconds: a fraction would be cut off unseen.
        if (*ms != std::trunc(*ms)) {
            error = QStringLiteral("\"ms\" must be a whole number of milliseconds");
            return std::nullopt;
        }
        command.trimMs = int(*ms);
    }
    return command;
}
