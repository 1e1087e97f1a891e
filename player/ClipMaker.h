// SPDX-License-Identifier: MIT
// A test clip made with GStreamer: a test pattern with the frame number drawn large on every frame, and
// in blocks along its bottom edge (FrameCode). Motion JPEG in AVI, or by the file's suffix Theora in Ogg
// (.ogg, .ogv), VP8 in WebM (.webm), H.264 or H.265 in MP4 (.mp4): the base and good plugin sets hold
// everything the first three need; H.264 needs x264enc (plugins-ugly), H.265 x265enc (plugins-bad).
// With sound, the clip also carries a tick that marks each second: 10 ms of a 1 kHz tone from the start of
// every second, silence between, as long as the frames: PCM in AVI, AAC in MP4 (avenc_aac, libav).
#pragma once

#include <QSize>
#include <QString>

namespace ClipMaker {

// Small enough for several players to decode on one machine with room to spare.
inline const QSize kDefaultSize{320, 240};

// Whether a clip at `path` can be written in `codec` (an .mp4 clip's: h264 or h265); false, with `error`
// saying why, otherwise.
bool acceptsCodec(const QString& path, const QString& codec, QString& error);
// Writes the clip, in `codec` as acceptsCodec takes it, or in the suffix's first codec when it is empty;
// with the ticks of each second as its sound when `sound` is set.
bool make(const QString& path, double seconds, int fps, const QSize& size, QString& error, const QString& codec = QString(),
          bool sound = false);

// The sound's sample rate, and the tick that starts each of its seconds.
constexpr int kSoundRate = 48000;
constexpr int kTickHz = 1000;
constexpr int kTickPeriods = 10;

} // namespace ClipMaker
