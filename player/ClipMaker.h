// SPDX-License-Identifier: MIT
// A test clip made with GStreamer: a test pattern with the frame number drawn large on every frame, and
// in blocks along its bottom edge (FrameCode). Motion JPEG in AVI, or by the file's suffix Theora in Ogg
// (.ogg, .ogv), VP8 in WebM (.webm), H.264 or H.265 in MP4 (.mp4): the base and good plugin sets hold
// everything the first three need; H.264 needs x264enc (plugins-ugly), H.265 x265enc (plugins-bad).
#pragma once

#include <QSize>
#include <QString>

namespace ClipMaker {

// Small enough for several players to decode on one machine with room to spare.
inline const QSize kDefaultSize{320, 240};

// Whether a clip at `path` can be written in `codec` (an .mp4 clip's: h264 or h265); false, with `error`
// saying why, otherwise.
bool acceptsCodec(const QString& path, const QString& codec, QString& error);
// Writes the clip, in `codec` as acceptsCodec takes it, or in the suffix's first codec when it is empty.
bool make(const QString& path, double seconds, int fps, const QSize& size, QString& error, const QString& codec = QString());

} // namespace ClipMaker
