// SPDX-License-Identifier: MIT
// The frames of a clip on its time line: frame k starts at k * den / num seconds, rounded down to the
// nanosecond exactly as the demuxer stamps it. Every player snaps a position to the same frame start, so
// that a pause or a step lands on the same frame on every screen.
#pragma once

#include <QtGlobal>

class FrameGrid
{
public:
    explicit FrameGrid(int fpsNum = 30, int fpsDen = 1);

    qint64 frameStartNs(qint64 index) const;
    // The frame shown at `positionNs`: a position a hair before a frame start (rounding) counts as that frame.
    qint64 frameIndexAt(qint64 positionNs) const;
    qint64 snapNs(qint64 positionNs) const { return frameStartNs(frameIndexAt(positionNs)); }
    qint64 frameDurationNs() const { return frameStartNs(1); }

private:
    int m_num;
    int m_den;
};

// Where a player's programme is at a time of its pipeline clock: `positionNs` of play `play` at `clockNs`,
// moving at `rate` while playing and standing still while paused. (Past the end of the play's item the
// programme goes on in the next play: MediaPlayer::pointAt knows where.)
struct Timeline
{
    bool playing = false;
    qint64 play = 0;
    qint64 positionNs = 0;
    qint64 clockNs = 0;
    double rate = 1.0;

    qint64 positionAt(qint64 atClockNs) const;
};
