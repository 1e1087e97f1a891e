// SPDX-License-Identifier: MIT
// A window that covers one output of the X display (ScreenOutputs) for the window sink to draw in, through
// its handle: override-redirect, so that no window manager decorates or moves it, and with the cursor
// hidden over it. ximagesink has no full-screen property of its own; a window of ours, handed to it, is
// the one way to have the output's size and place and nothing else. It keeps a display connection of
// its own, apart from the sink's.
#pragma once

#include "ScreenOutputs.h"

#include <QString>

#include <glib.h>

#include <memory>

class FullScreenWindow
{
public:
    // The window on the output that `output` names (ScreenOutputs::choose), mapped above the others and
    // titled `title`; nothing, with `error` saying why.
    static std::unique_ptr<FullScreenWindow> open(const QString& output, const QString& title, QString& error);
    ~FullScreenWindow();

    FullScreenWindow(const FullScreenWindow&) = delete;
    FullScreenWindow& operator=(const FullScreenWindow&) = delete;

    guintptr handle() const { return m_window; }
    const ScreenOutput& output() const { return m_output; }

private:
    FullScreenWindow(Display* display, ScreenOutput output) : m_display(display), m_output(std::move(output)) {}

    Display* const m_display;
    const ScreenOutput m_output;
    unsigned long m_window = 0;
};
