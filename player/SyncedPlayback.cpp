// SPDX-License-Identifier: MIT
#include "SyncedPlayback.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr qint64 kNsPerUs = 1000;
constexpr qint64 kNsPerMs = 1000000;
// How long before its instant a playing pipeline stops to preroll a new position: a seek and the first
// frame's decoding take a few milliseconds, much more on a loaded machine.
constexpr qint64 kPrerollLeadNs = 80 * kNsPerMs;
// Time lines kept for dueOf: each command that moves the programme makes one.
constexpr std::size_t kKeptLines = 16;

} // namespace

bool SyncedPlayback::apply(const SyncCommand& command, qint64 instantClockNs, QString& error)
{
    // This screen's trim: everything happens that much later (earlier) than the common instant.
    const qint64 atClockNs = instantClockNs + m_trimNs;
    const qint64 positionNs = command.positionUs * kNsPerUs;
    if (!m_media.isOpen()) {
        error = QStringLiteral("%1 before any media is prepared; ignored").arg(QLatin1String(SyncCommand::name(command.kind)));
        return false;
    }
    const qint64 durationNs = m_media.itemDurationNs(m_media.programme().itemOfPlay(command.play));
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
        if (isOnTimeline(command.play, positionNs, atClockNs))
            return true;
        // A position inside a frame: that frame is shown when the programme passes its start.
        const qint64 frameStart = snapNs(positionNs);
        const qint64 shownAt = atClockNs - qint64(double(positionNs - frameStart) / m_timeline.rate);
        return playAt(command.play, frameStart, m_timeline.rate, shownAt, error);
    }
    case SyncCommand::Seek:
        if (command.playOn)
            return playAt(command.play, snapNs(positionNs), m_timeline.rate, atClockNs, error);
        holdAt(command.play, snapNs(positionNs), atClockNs);
        return true;
    case SyncCommand::Pause:
        // Without a position from the master, the frame this player shows at the instant.
        holdAt(command.positionUs >= 0 ? command.play : m_timeline.play,
               snapNs(command.positionUs >= 0 ? positionNs : m_timeline.positionAt(atClockNs)), atClockNs);
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
        return playAt(command.play, snapNs(positionNs), command.rate, atClockNs, error);
    case SyncCommand::Step:
    case SyncCommand::StepBack:
        holdAt(command.play, snapNs(std::max<qint64>(0, positionNs)), atClockNs);
        return true;
    case SyncCommand::Stop:
        if (const std::optional<ProgrammePoint> there = m_media.pointAt(atClockNs)) {
            m_timeline.play = there->play;
            m_timeline.positionNs = there->positionNs;
        } else {
            m_timeline.positionNs = m_timeline.positionAt(atClockNs);
        }
        m_timeline.playing = false;
        noteTimeline(atClockNs);
        at(atClockNs, [this] { m_media.halt(); });
        return true;
    case SyncCommand::Prepare:
    case SyncCommand::Trim:
        break;  // a programme is opened, a trim set (setTrimNs), not applied
    }
    error = QStringLiteral("a %1 is no playback command").arg(QLatin1String(SyncCommand::name(command.kind)));
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
    case SyncCommand::Prepare:
        return false;
    default:
        return true;
    }
}

bool SyncedPlayback::isOnTimeline(qint64 play, qint64 positionNs, qint64 atClockNs) const
{
    if (!m_timeline.playing)
        return false;
    // Where the pipeline will be at the instant, across the end of an item where it knows the way.
    const std::optional<ProgrammePoint> there = m_media.pointAt(atClockNs);
    const ProgrammePoint expected = there ? *there : ProgrammePoint{m_timeline.play, m_timeline.positionAt(atClockNs)};
    return expected.play == play && std::llabs(expected.positionNs - positionNs) < m_media.grid().frameDurationNs() / 4;
}

bool SyncedPlayback::playAt(qint64 play, qint64 positionNs, double rate, qint64 atClockNs, QString& error)
{
    const Timeline before = m_timeline;
    if (!before.playing && !playFrom(play, positionNs, rate, atClockNs, error))
        return false;
    m_timeline = Timeline{true, play, positionNs, atClockNs, rate};
    noteTimeline(atClockNs);
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
    at(stopAt, [this, play, positionNs, rate, atClockNs, trimNs = m_trimNs] {
        // A trim that changed meanwhile moves the instant with it (the time line was moved already).
        QString lateError;
        if (!playFrom(play, positionNs, rate, atClockNs + (m_trimNs - trimNs), lateError) && m_onLateError)
            m_onLateError(lateError);
    });
    return true;
}

bool SyncedPlayback::playFrom(qint64 play, qint64 positionNs, double rate, qint64 atClockNs, QString& error)
{
    if (m_onReposition)
        m_onReposition();
    return m_media.playFrom(ProgrammePoint{play, positionNs}, rate, atClockNs, error);
}

void SyncedPlayback::holdAt(qint64 play, qint64 positionNs, qint64 atClockNs)
{
    m_timeline.playing = false;
    m_timeline.play = play;
    m_timeline.positionNs = positionNs;
    m_timeline.clockNs = atClockNs;
    noteTimeline(atClockNs);
    at(atClockNs, [this, play, positionNs] {
        QString error;
        if (!m_media.holdFrame(ProgrammePoint{play, positionNs}, error) && m_onLateError)
            m_onLateError(error);
    });
}

void SyncedPlayback::at(qint64 clockNs, std::function<void()> action)
{
    const qint64 nowNs = m_media.clock() ? qint64(gst_clock_get_time(m_media.clock())) : clockNs;
    // The wait is timed on this PC's own oscillator, as the pipeline's clock is.
    const qint64 waitNs = m_toRealNs ? m_toRealNs(clockNs - nowNs) : clockNs - nowNs;
    const qint64 delayMs = std::max<qint64>(0, (waitNs + kNsPerMs - 1) / kNsPerMs);
    QTimer::singleShot(int(delayMs), Qt::PreciseTimer, &m_timerContext, std::move(action));
}

void SyncedPlayback::setTrimNs(qint64 trimNs)
{
    const qint64 deltaNs = trimNs - m_trimNs;
    m_trimNs = trimNs;
    if (deltaNs == 0 || !m_timeline.playing || !m_media.isOpen())
        return;
    // The programme plays: its time line, and the pipeline's frames with it, move by the change.
    m_timeline.clockNs += deltaNs;
    m_media.shiftBaseTime(deltaNs);
    noteTimeline(m_media.clock() ? qint64(gst_clock_get_time(m_media.clock())) : m_timeline.clockNs);
}

void SyncedPlayback::noteTimeline(qint64 fromClockNs)
{
    m_lines.push_back(KeptLine{m_timeline, fromClockNs, m_nextLineId++});
    if (m_lines.size() > kKeptLines)
        m_lines.pop_front();
}

std::optional<SyncedPlayback::FrameDue> SyncedPlayback::dueOf(qint64 key, qint64 shownClockNs) const
{
    const qint64 frameNs = m_media.grid().frameDurationNs();
    if (frameNs <= 0)
        return std::nullopt;
    // The time line in force when the frame was shown: the newest that began by then (half a frame of
    // slack, for a first frame shown a little early).
    auto kept = m_lines.rbegin();
    while (kept != m_lines.rend() && kept->fromClockNs > shownClockNs + frameNs / 2)
        ++kept;
    if (kept == m_lines.rend() || !kept->timeline.playing)
        return std::nullopt;
    const Timeline& line = kept->timeline;
    const qint64 play = Programme::playOfKey(key);
    const qint64 pts = key - Programme::frameKey(play, 0);
    if (play < line.play)
        return std::nullopt;
    // How far into the programme the frame lies from where the time line starts: across the ends of the
    // items in between when their lengths are known.
    qint64 offsetNs = pts - line.positionNs;
    for (qint64 p = line.play; p < play; ++p) {
        const qint64 duration = m_media.itemDurationNs(m_media.programme().itemOfPlay(p));
        if (duration <= 0)
            return std::nullopt;
        offsetNs += duration;
    }
    if (offsetNs < -frameNs / 2)
        return std::nullopt;
    FrameDue due;
    due.clockNs = line.clockNs + std::llround(double(offsetNs) / line.rate);
    due.line = kept->id;
    due.index = (offsetNs + frameNs / 2) / frameNs;
    return due;
}
