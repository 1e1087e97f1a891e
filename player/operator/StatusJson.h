// SPDX-License-Identifier: MIT
// The show's status as the operator's API gives it (GET /api/status, and each server-sent event): one
// JSON object, described in docs/OPERATOR.md. Figures a slave has not reported are null.
#pragma once

#include "ShowStatus.h"

#include <QByteArray>

QByteArray statusJson(const ShowStatus& status);

// The name of a command by its message code (docs/PROTOCOL.md), as a slave's health names the last one it
// applied; "code N" for one this player does not send.
QString commandNameOfCode(int code);
