// SPDX-License-Identifier: MIT
// Where a player shows its frames: a headless sink (each frame handed over at its instant, for the
// measurement), a window of the frames' own size, or the whole of one output without decorations or
// cursor: on the X display when DISPLAY is set, else on the console through KMS.
#pragma once

#include <QString>

struct VideoOutput
{
    enum Kind { Headless, Window, FullScreen };

    // Implicit on purpose: a caller that only chooses between a window and none passes that flag.
    VideoOutput(bool window = false) : kind(window ? Window : Headless) {}  // NOLINT(google-explicit-constructor)

    Kind kind;
    // FullScreen: the output to fill, by name or by number (empty: the first). On the X display a name is
    // RandR's (HDMI-1, say) and a number counts the outputs from 0; on the console it is the DRM connector's id.
    QString output;
};
