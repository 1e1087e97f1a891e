// SPDX-License-Identifier: MIT
#include "ProgrammeState.h"

#include <algorithm>

ProgrammeStatus programmeStatusOf(SyncedPlayback& playback, qint64 nowClockNs, bool started)
{
    MediaPlayer& media = playback.media();
    const Programme& programme = media.programme();
    const Timeline& timeline = playback.timeline();
    ProgrammePoint point{timeline.play, timeline.positionAt(nowClockNs)};
    // A playing programme may have passed into its next item; the pipeline knows where.
    if (timeline.playing) {
        if (const std::optional<ProgrammePoint> there = media.pointAt(nowClockNs))
            point = *there;
    }
    ProgrammeStatus status;
    if (started)
        status.state = !media.isOpen() ? QStringLiteral("stopped") : timeline.playing ? QStringLiteral("playing") : QStringLiteral("paused");
    status.play = point.play;
    status.item = std::max(0, programme.itemOfPlay(point.play));
    status.items = int(programme.uris().size());
    status.uri = programme.uriOfPlay(point.play);
    const qint64 durationNs = media.itemDurationNs(status.item);
    status.durationUs = durationNs > 0 ? durationNs / 1000 : -1;
    // A programme that ran to its end stands there, not past it.
    status.positionUs = std::max<qint64>(0, point.positionNs / 1000);
    if (status.durationUs >= 0)
        status.positionUs = std::min(status.positionUs, status.durationUs);
    status.rate = timeline.rate;
    status.loops = programme.loops();
    return status;
}
