// SPDX-License-Identifier: MIT
// One `multinet-player run` to its end, and its figures (the JSON it writes): what the scenarios that
// play real media share.
#pragma once

#include <QJsonObject>
#include <QStringList>

#include <cstdint>
#include <string>

// Runs `multinet-player run` with `arguments` in `workDir` (its clip, frame logs and `<name>.log` stay
// there) and returns the JSON it wrote to `<name>.json`. The p99 bound is not judged: the table shows
// the figures. Throws std::runtime_error when the run does not end within `timeoutMs` or writes nothing.
QJsonObject runPlayer(const QStringList& arguments, const QString& workDir, int timeoutMs, const QString& name = QStringLiteral("figures"));

// A session's pooled skew_us object.
QJsonObject skewOf(const QJsonObject& session);
// A number of the JSON as a whole number.
std::int64_t integer(const QJsonValue& value);
// "p50 / p99 / max" of a skew_us object.
std::string skewText(const QJsonObject& skew);
