// SPDX-License-Identifier: MIT
#include "FrameGrid.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr qint64 kSnapToleranceNs = 1000;

} // namespace

FrameGrid::FrameGrid(int fpsNum, int fpsDen) : m_num(fpsNum > 0 ? fpsNum : 30), m_den(fpsDen > 0 ? fpsDen : 1) {}

qint64 FrameGrid::frameStartNs(qint64 index) const
{
    // floor(index * den * 1e9 / num), split so that no product leaves 64 bits.
    const qint64 scaled = index * m_den;
    return scaled / m_num * kNsPerSecond + scaled % m_num * kNsPerSecond / m_num;
}

qint64 FrameGrid::frameIndexAt(qint64 positionNs) const
{
    const qint64 shifted = std::max<qint64>(0, positionNs + kSnapToleranceNs);
    // floor(shifted * num / (den * 1e9)), split as above.
    const qint64 unit = qint64(m_den) * kNsPerSecond;
    return shifted / unit * m_num + shifted % unit * m_num / unit;
}

qint64 Timeline::positionAt(qint64 atClockNs) const
{
    if (!playing)
        return positionNs;
    return positionNs + qint64(std::llround(double(atClockNs - clockNs) * rate));
}
