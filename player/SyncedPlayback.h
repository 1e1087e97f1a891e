// SPDX-License-Identifier: MIT
// Carries out the players' commands on a MediaPlayer at instants of its pipeline's clock: a start, a
// seek that plays on and a speed change preroll at once and show their first frame at the instant; a
// pause, a step and a seek that stays paused show their frame at the instant; a stop ends there.
// Master and slaves run the same code, so that they differ only in how they convert an instant.
//
// A screen's trim moves every instant of this player by so much (later; negative: earlier): the commands'
// instants as they are applied, and, when it changes while the programme plays, the frames from the next
// one on (the pipeline's base time moves by the change, without a seek).
#pragma once

#include "FrameGrid.h"
#include "MediaPlayer.h"
#include "SyncCommand.h"

#include <QObject>

#include <deque>
#include <functional>
#include <optional>

class SyncedPlayback
{
public:
    explicit SyncedPlayback(FrameLog& log) : m_media(log) {}

    MediaPlayer& media() { return m_media; }
    // Where the programme is, on the pipeline's clock, after the commands applied so far.
    const Timeline& timeline() const { return m_timeline; }
    // The frame start at or before `positionNs`.
    qint64 snapNs(qint64 positionNs) const { return m_media.grid().snapNs(positionNs); }
    // Where a change of speed at `atClockNs` goes on without losing a frame: the frame after the last one
    // shown before a playing pipeline stops to preroll (see apply).
    qint64 continuingPositionNs(qint64 atClockNs) const;

    // `atClockNs` is the command's instant converted to the pipeline's clock. A command before any media
    // is open, or for a position at or past the media's end, is refused and changes nothing. A failure
    // that happens at the instant is handed to `onLateError`.
    bool apply(const SyncCommand& command, qint64 atClockNs, QString& error);
    void setLateErrorHandler(std::function<void(const QString&)> onLateError) { m_onLateError = std::move(onLateError); }
    // How long a wait of so many ns of the pipeline's clock takes in real time: this PC's timers run on its
    // own oscillator (a simulated drift moves them too). Without it, the same.
    void setWaitConversion(std::function<qint64(qint64)> toRealNs) { m_toRealNs = std::move(toRealNs); }
    // Called right before the pipeline is put on another time line (a flushing seek and a new base time).
    void setRepositionHandler(std::function<void()> onReposition) { m_onReposition = std::move(onReposition); }

    // This screen's trim, in ns of the pipeline's clock: every command is carried out that much later
    // (negative: earlier) than its instant. A change while the programme plays moves the frames from the
    // next one on; a command already waiting for its instant keeps to the trim it was applied with, but
    // for the base time of a start it has yet to make.
    void setTrimNs(qint64 trimNs);
    qint64 trimNs() const { return m_trimNs; }

    // When a frame (its Programme::frameKey) that was shown at `shownClockNs` of the pipeline's clock was due
    // there, by the time line that the commands (and the trim) had set for that moment: nothing for a frame
    // of a time line that is not kept (the last 16), of one that did not play, or across an item whose
    // length is not known. `line` tells the time lines apart; `index` counts the line's frames from its start.
    struct FrameDue
    {
        qint64 clockNs = 0;
        qint64 line = 0;
        qint64 index = 0;
    };
    std::optional<FrameDue> dueOf(qint64 key, qint64 shownClockNs) const;

private:
    // Whether the command names a position to go to (a pause may leave it to the player, a speed change
    // names one only while playing).
    bool carriesPosition(const SyncCommand& command) const;
    // Whether the programme already passes `positionNs` of `play` at `atClockNs` (a start that lets a
    // player join late, sent to all).
    bool isOnTimeline(qint64 play, qint64 positionNs, qint64 atClockNs) const;
    bool playAt(qint64 play, qint64 positionNs, double rate, qint64 atClockNs, QString& error);
    bool playFrom(qint64 play, qint64 positionNs, double rate, qint64 atClockNs, QString& error);
    void holdAt(qint64 play, qint64 positionNs, qint64 atClockNs);
    // Runs `action` on the main thread when the pipeline's clock reaches `clockNs` (at once when it has).
    void at(qint64 clockNs, std::function<void()> action);
    // Keeps the time line as it is now, in force from `fromClockNs` on (for dueOf).
    void noteTimeline(qint64 fromClockNs);

    // A time line and the instant from which it was in force.
    struct KeptLine
    {
        Timeline timeline;
        qint64 fromClockNs = 0;
        qint64 id = 0;
    };

    MediaPlayer m_media;
    Timeline m_timeline;
    QObject m_timerContext;  // scheduled actions die with this object
    std::function<void(const QString&)> m_onLateError;
    std::function<qint64(qint64)> m_toRealNs;
    std::function<void()> m_onReposition;
    qint64 m_trimNs = 0;
    std::deque<KeptLine> m_lines;  // the newest last
    qint64 m_nextLineId = 1;
};
