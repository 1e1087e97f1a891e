// SPDX-License-Identifier: MIT
// What both demo hosts do for a keyed group (--key-file): the file's keys into the library, again on
// each SIGHUP, and the object's drops shown with its status.
#pragma once

#include "KeyFileReload.h"

#include <MultiNetControl.h>

#include <memory>
#include <optional>

// Puts the keys of `file`, when given, in `control` now and again after each SIGHUP, for as long as the
// result lives; `who` names the host in a line.
std::unique_ptr<KeyFileReload> keepKeys(const std::optional<KeyFile>& file, MultiNetControl& control, const QString& who);

// "[demo] drops unsigned=… unknown-key=… bad-signature=… replayed=… signed-without-key=…".
void printDropCounts(const NetControlNS::struDropCounts& counts);
