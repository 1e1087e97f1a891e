// SPDX-License-Identifier: MIT
// The frame number in pixels, for a grab of the screen to read back without recognising digits: a row of
// kBits square blocks along the bottom of the frame, white for a 1 and black for a 0, the highest bit on
// the left, and under it the same row inverted, so that a reader tells a code from a picture that merely
// happens to be dark or bright there. A block's side is the frame's width / kBits (20 pixels at 320x240),
// big enough to come through Motion JPEG, Theora and VP8 unharmed. scripts/lib/player-display.sh reads it.
#pragma once

#include <gst/video/video.h>

namespace FrameCode {

constexpr int kBits = 16;

// Paints `number`, modulo 2^kBits, on a mapped frame of 8-bit YUV; a frame too small for it stays as it is.
void paint(GstVideoFrame& frame, guint64 number);

} // namespace FrameCode
