// SPDX-License-Identifier: MIT
// Carries out the players' commands on a MediaPlayer at instants of its pipeline's clock: a start, a
// seek that plays on and a speed change preroll at once and show their first frame at the instant; a
// pause, a step and a seek that stays paused show their frame at the instant; a stop ends there.
// Master and slaves run the same code, so that they differ only in how they convert an instant.
#pragma once

#include "FrameGrid.h"
#include "MediaPlayer.h"
#include "SyncCommand.h"

#include <QObject>

#include <functional>

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

    MediaPlayer m_media;
    Timeline m_timeline;
    QObject m_timerContext;  // scheduled actions die with this object
    std::function<void(const QString&)> m_onLateError;
    std::function<qint64(qint64)> m_toRealNs;
    std::function<void()> m_onReposition;
};
