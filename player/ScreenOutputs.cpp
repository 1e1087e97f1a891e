// SPDX-License-Identifier: MIT
#include "ScreenOutputs.h"

#include <QStringList>

#include <X11/Xlib.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

namespace {

std::vector<ScreenOutput> randrMonitors(Display* display)
{
    std::vector<ScreenOutput> outputs;
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    // Monitors came with RandR 1.5.
    if (!XRRQueryExtension(display, &event, &error) || !XRRQueryVersion(display, &major, &minor) ||
        major * 100 + minor < 105)
        return outputs;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    for (int i = 0; i < count; ++i) {
        char* name = XGetAtomName(display, monitors[i].name);
        outputs.push_back({QString::fromUtf8(name ? name : ""),
                           QRect(monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height)});
        if (name)
            XFree(name);
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    return outputs;
}

std::vector<ScreenOutput> xineramaHeads(Display* display)
{
    std::vector<ScreenOutput> outputs;
    int event = 0;
    int error = 0;
    if (!XineramaQueryExtension(display, &event, &error) || !XineramaIsActive(display))
        return outputs;
    int count = 0;
    XineramaScreenInfo* heads = XineramaQueryScreens(display, &count);
    for (int i = 0; i < count; ++i)
        outputs.push_back({QString::number(i), QRect(heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height)});
    if (heads)
        XFree(heads);
    return outputs;
}

// "1 HDMI-1 1920x1080+1920+0", or "1 640x480+0+0" for an output named by its number.
QString describe(std::size_t index, const ScreenOutput& output)
{
    const QRect& g = output.geometry;
    const QString number = QString::number(index);
    return QStringLiteral("%1 %2x%3+%4+%5")
        .arg(output.name == number ? number : number + QLatin1Char(' ') + output.name)
        .arg(g.width())
        .arg(g.height())
        .arg(g.x())
        .arg(g.y());
}

} // namespace

std::vector<ScreenOutput> ScreenOutputs::list(Display* display)
{
    std::vector<ScreenOutput> randr = randrMonitors(display);
    std::vector<ScreenOutput> xinerama = xineramaHeads(display);
    if (xinerama.size() > randr.size())
        return xinerama;
    if (!randr.empty())
        return randr;
    const int screen = DefaultScreen(display);
    return {{QStringLiteral("0"), QRect(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen))}};
}

std::optional<ScreenOutput> ScreenOutputs::choose(const std::vector<ScreenOutput>& outputs, const QString& choice,
                                                  QString& error)
{
    if (choice.isEmpty() && !outputs.empty())
        return outputs.front();
    for (const ScreenOutput& output : outputs) {
        if (output.name == choice)
            return output;
    }
    bool isNumber = false;
    const int index = choice.toInt(&isNumber);
    if (isNumber && index >= 0 && std::size_t(index) < outputs.size())
        return outputs[std::size_t(index)];
    QStringList known;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        known.append(describe(i, outputs[i]));
    error = QStringLiteral("the display has no output %1 (it has %2)").arg(choice, known.join(QLatin1String(", ")));
    return std::nullopt;
}
