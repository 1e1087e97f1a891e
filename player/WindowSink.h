// SPDX-License-Identifier: MIT
// The sinks that show frames on a screen, with fakesink's "handoff" and "preroll-handoff" signals emitted
// once a frame is on the screen (rendered at its time, or shown at once as a pause's preroll):
// `tamowindowsink`, ximagesink's, for a window or an X output, and `tamoconsolesink`, kmssink's, for the
// console. A probe on the sink's pad sees a frame arrive, not whether it is shown: a pause or a seek may
// flush it unseen, and the sink drops a frame that comes too late. The handoffs log exactly what is shown.
#pragma once

namespace WindowSink {

inline constexpr char kElement[] = "tamowindowsink";
inline constexpr char kConsoleElement[] = "tamoconsolesink";

// Register each element for this process, once; false without the sink it extends.
bool registerElement();
bool registerConsoleElement();

} // namespace WindowSink
