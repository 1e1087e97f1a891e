// SPDX-License-Identifier: MIT
#include "SyncedPlayback.h"

#include <QTimer>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint64 kNsPerUs = 1000;
constexpr qint64 kNsPerMs = 1000000;
// How long before its instant a playing pipeline stops to preroll a new position: a seek and the first
// frame's decoding take a few milliseconds, much more on a loaded machine.
constexpr qint64 kPrerollLeadNs = 80 * kNsPerMs;

} // namespace

bool SyncedPlayback::apply(const SyncCommand& command, qint64 atClockNs, QString& error)
{
    const qint64 positionNs = command.positionUs * kNsPerUs;
    if (!m_media.isOpen()) {
        error = QStringLiteral("%1 before any media is prepared; ignored").arg(QLatin1String(SyncCommand::name(command.kind)));
        return false;
    }
    const qint64 durationNs = m_media.durationNs();
    if (carriesPosition(command) && durationNs > 0 && positionNs >= durationNs) {
        error = QStringLiteral("%1 to %2 us, past the end of the media at %3 us; ignored")
                    .arg(QLatin1String(SyncCommand::name(command.kind)))
                    .arg(command.positionUs)
                    .arg(durationNs / kNsPerUs);
        return false;
    }
    switch (command.kind) {
    case SyncCommand::Start: {
        // Already on this time line (a start that lets a player join late): nothing changes here.
        if (m_timeline.playing && std::llabs(m_timeline.positionAt(atClockNs) - positionNs) < m_media.grid().frameDurationNs() / 4)
            return true;
        // A position inside a frame: that frame is shown when the programme passes its start.
        const qint64 frameStart = snapNs(positionNs);
        const qint64 shownAt = atClockNs - qint64(double(positionNs - frameStart) / m_timeline.rate);
        return playAt(frameStart, m_timeline.rate, shownAt, error);
    }
    case SyncCommand::Seek:
        if (command.playOn)
            return playAt(snapNs(positionNs), m_timeline.rate, atClockNs, error);
        holdAt(snapNs(positionNs), atClockNs);
        return true;
    case SyncCommand::Pause:
        // Without a position from the master, the frame this player shows at the instant.
        holdAt(snapNs(command.positionUs >= 0 ? positionNs : m_timeline.positionAt(atClockNs)), atClockNs);
        return true;
    case SyncCommand::Speed:
        if (command.rate <= 0) {
            error = QStringLiteral("speed %1 is not supported (forward rates only)").arg(command.rate);
            return false;
        }
        if (!m_timeline.playing) {
            m_timeline.rate = command.rate;
            return true;
        }
        return playAt(snapNs(positionNs), command.rate, atClockNs, error);
    case SyncCommand::Step:
    case SyncCommand::StepBack:
        holdAt(snapNs(std::max<qint64>(0, positionNs)), atClockNs);
        return true;
    case SyncCommand::Stop:
        m_timeline.positionNs = m_timeline.positionAt(atClockNs);
        m_timeline.playing = false;
        at(atClockNs, [this] { m_media.halt(); });
        return true;
    }
    return false;
}

qint64 SyncedPlayback::continuingPositionNs(qint64 atClockNs) const
{
    if (!m_timeline.playing)
        return snapNs(m_timeline.positionNs);
    const FrameGrid& grid = m_media.grid();
    return grid.frameStartNs(grid.frameIndexAt(m_timeline.positionAt(atClockNs - kPrerollLeadNs)) + 1);
}

bool SyncedPlayback::carriesPosition(const SyncCommand& command) const
{
    switch (command.kind) {
    case SyncCommand::Pause:
        return command.positionUs >= 0;
    case SyncCommand::Speed:
        return m_timeline.playing;
    case SyncCommand::Stop:
        return false;
    default:
        return true;
    }
}

bool SyncedPlayback::playAt(qint64 positionNs, double rate, qint64 atClockNs, QString& error)
{
    const Timeline before = m_timeline;
    if (!before.playing && !m_media.playFrom(positionNs, rate, atClockNs, error))
        return false;
    m_timeline = Timeline{true, positionNs, atClockNs, rate};
    if (!before.playing)
        return true;
    // Playing on until just before the instant: every screen then stops on the same frame at the same
    // time, rather than each when the command happens to arrive, and prerolls the new position unseen.
    // It stops midway between two frames, so that the timer's millisecond never decides which one.
    const FrameGrid& grid = m_media.grid();
    const qint64 lastShown = grid.frameStartNs(grid.frameIndexAt(before.positionAt(atClockNs - kPrerollLeadNs)));
    const double frameOnClockNs = double(grid.frameDurationNs()) / before.rate;
    const qint64 stopAt =
        before.clockNs + qint64(double(lastShown - before.positionNs) / before.rate + frameOnClockNs / 2);
    at(stopAt, [this, positionNs, rate, atClockNs] {
        QString lateError;
        if (!m_media.playFrom(positionNs, rate, atClockNs, lateError) && m_onLateError)
            m_onLateError(lateError);
    });
    return true;
}

void SyncedPlayback::holdAt(qint64 positionNs, qint64 atClockNs)
{
    m_timeline.playing = false;
    m_timeline.positionNs = positionNs;
    m_timeline.clockNs = atClockNs;
    at(atClockNs, [this, positionNs] {
        QString error;
        if (!m_media.holdFrame(positionNs, error) && m_onLateError)
            m_onLateError(error);
    });
}

void SyncedPlayback::at(qint64 clockNs, std::function<void()> action)
{
    const qint64 nowNs = m_media.clock() ? qint64(gst_clock_get_time(m_media.clock())) : clockNs;
    const qint64 delayMs = std::max<qint64>(0, (clockNs - nowNs + kNsPerMs - 1) / kNsPerMs);
    QTimer::singleShot(int(delayMs), Qt::PreciseTimer, &m_timerContext, std::move(action));
}
