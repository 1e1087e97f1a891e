// SPDX-License-Identifier: MIT
// The multinet-player that the lab starts: the one beside this program, as the build tree and an
// installation place them. What needs GStreamer (a test clip) the lab asks of it too.
#pragma once

#include <QString>

namespace PlayerProgram {

QString path();
// False, with `error` saying where it was looked for, when it is not there.
bool found(QString& error);
// Writes a test clip of `seconds` with the frame number on each frame (`multinet-player make-clip`).
bool makeClip(const QString& clip, double seconds, QString& error);

} // namespace PlayerProgram
