// SPDX-License-Identifier: MIT
// A test clip made with GStreamer: a test pattern with the frame number drawn large on every frame,
// Motion JPEG in AVI (the base and good plugin sets hold everything it needs).
#pragma once

#include <QString>

namespace ClipMaker {

bool make(const QString& path, double seconds, int fps, QString& error);

} // namespace ClipMaker
