// SPDX-License-Identifier: MIT
// The window sink, element `tamowindowsink`: ximagesink with fakesink's "handoff" and "preroll-handoff"
// signals, emitted once a frame is on the screen (rendered at its time, or shown at once as a pause's
// preroll). A probe on the sink's pad sees a frame arrive, not whether it is shown: a pause or a seek may
// flush it unseen, and the sink drops a frame that comes too late. The handoffs log exactly what is shown.
#pragma once

namespace WindowSink {

inline constexpr char kElement[] = "tamowindowsink";

// Registers the element for this process, once; false without ximagesink.
bool registerElement();

} // namespace WindowSink
