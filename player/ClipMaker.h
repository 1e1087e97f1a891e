// SPDX-License-Identifier: MIT
// A test clip made with GStreamer: a test pattern with the frame number drawn large on every frame, and
// in blocks along its bottom edge (FrameCode). Motion JPEG in AVI, or by the file's suffix Theora in Ogg
// (.ogg, .ogv) or VP8 in WebM (.webm): the base and good plugin sets hold everything each needs.
#pragma once

#include <QSize>
#include <QString>

namespace ClipMaker {

// Small enough for several players to decode on one machine with room to spare.
inline const QSize kDefaultSize{320, 240};

bool make(const QString& path, double seconds, int fps, const QSize& size, QString& error);

} // namespace ClipMaker
