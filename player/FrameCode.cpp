// SPDX-License-Identifier: MIT
#include "FrameCode.h"

namespace {

// Video-range luma for white and black, and the chroma of grey.
constexpr guint8 kWhite = 235;
constexpr guint8 kBlack = 16;
constexpr guint8 kNeutralChroma = 128;

// Fills the rectangle (x, y, side, side) of the frame's luma with `luma` and of its chroma with grey.
void fillBlock(GstVideoFrame& frame, int x, int y, int side, guint8 luma)
{
    const GstVideoFormatInfo* format = frame.info.finfo;
    for (guint component = 0; component < GST_VIDEO_FRAME_N_COMPONENTS(&frame); ++component) {
        guint8* data = GST_VIDEO_FRAME_COMP_DATA(&frame, component);
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, component);
        const int pixelStride = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, component);
        const guint8 value = component == GST_VIDEO_COMP_Y ? luma : kNeutralChroma;
        const int top = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(format, component, y);
        const int bottom = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(format, component, y + side);
        const int left = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(format, component, x);
        const int right = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(format, component, x + side);
        for (int row = top; row < bottom; ++row) {
            for (int column = left; column < right; ++column)
                data[row * stride + column * pixelStride] = value;
        }
    }
}

} // namespace

void FrameCode::paint(GstVideoFrame& frame, guint64 number)
{
    // Even sides and corners, so that subsampled chroma covers the blocks exactly.
    const int side = (GST_VIDEO_FRAME_WIDTH(&frame) / kBits) & ~1;
    const int top = (GST_VIDEO_FRAME_HEIGHT(&frame) - 2 * side) & ~1;
    if (side < 2 || top < 0)
        return;
    for (int bit = 0; bit < kBits; ++bit) {
        const bool set = (number >> (kBits - 1 - bit)) & 1;
        fillBlock(frame, bit * side, top, side, set ? kWhite : kBlack);
        fillBlock(frame, bit * side, top + side, side, set ? kBlack : kWhite);
    }
}
