// SPDX-License-Identifier: MIT
#include "FullScreenWindow.h"

#include <X11/Xlib.h>

#include <optional>

namespace {

// A cursor of one transparent pixel: X has no "no cursor", and a window without one of its own shows
// its parent's.
Cursor blankCursor(Display* display, Window window)
{
    const char noBits[1] = {0};
    Pixmap empty = XCreateBitmapFromData(display, window, noBits, 1, 1);
    XColor black{};
    const Cursor cursor = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(display, empty);
    return cursor;
}

void setTitle(Display* display, Window window, const QString& title)
{
    const QByteArray utf8 = title.toUtf8();
    XStoreName(display, window, utf8.constData());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), XInternAtom(display, "UTF8_STRING", False),
                    8, PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.constData()), utf8.size());
}

} // namespace

std::unique_ptr<FullScreenWindow> FullScreenWindow::open(const QString& output, const QString& title, QString& error)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        error = QStringLiteral("cannot open the X display %1").arg(qEnvironmentVariable("DISPLAY"));
        return nullptr;
    }
    std::optional<ScreenOutput> chosen = ScreenOutputs::choose(ScreenOutputs::list(display), output, error);
    if (!chosen) {
        XCloseDisplay(display);
        return nullptr;
    }
    std::unique_ptr<FullScreenWindow> screen(new FullScreenWindow(display, std::move(*chosen)));
    const QRect& area = screen->m_output.geometry;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    const Window window =
        XCreateWindow(display, DefaultRootWindow(display), area.x(), area.y(), unsigned(area.width()), unsigned(area.height()),
                      0, CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    screen->m_window = window;
    setTitle(display, window, title);
    const Cursor cursor = blankCursor(display, window);
    XDefineCursor(display, window, cursor);
    XFreeCursor(display, cursor);
    XMapRaised(display, window);
    // The sink draws in it through a connection of its own: the window must exist for the server first.
    XSync(display, False);
    return screen;
}

FullScreenWindow::~FullScreenWindow()
{
    if (m_window)
        XDestroyWindow(m_display, m_window);
    XCloseDisplay(m_display);
}
