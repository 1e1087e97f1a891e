// SPDX-License-Identifier: MIT
// The outputs of an X display, for a full-screen window: RandR's monitors, by name; or Xinerama's heads,
// by number, where Xinerama knows more of them (X screens that it joins into one, which RandR does not
// see); or else the whole screen.
#pragma once

#include <QRect>
#include <QString>

#include <optional>
#include <vector>

typedef struct _XDisplay Display;  // as Xlib has it, without Xlib's macros in every includer

struct ScreenOutput
{
    QString name;
    QRect geometry;  // in the root window's coordinates
};

namespace ScreenOutputs {

std::vector<ScreenOutput> list(Display* display);
// The output that `choice` names: a name, or a number counting from 0 in list order; empty: the first.
// Nothing, with `error` naming the outputs there are, when none fits.
std::optional<ScreenOutput> choose(const std::vector<ScreenOutput>& outputs, const QString& choice, QString& error);

} // namespace ScreenOutputs
