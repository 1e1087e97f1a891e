// SPDX-License-Identifier: MIT
// A test clip made with GStreamer: a test pattern with the frame number drawn large on every frame,
// Motion JPEG in AVI (the base and good plugin sets hold everything it needs).
#pragma once

#include <QSize>
#include <QString>

namespace ClipMaker {

// Small enough for several players to decode on one machine with room to spare.
inline const QSize kDefaultSize{320, 240};

bool make(const QString& path, double seconds, int fps, const QSize& size, QString& error);

} // namespace ClipMaker
