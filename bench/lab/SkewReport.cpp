// SPDX-License-Identifier: MIT
#include "SkewReport.h"

#include "TextTable.h"

#include <QJsonArray>

#include <algorithm>

namespace {

QString percent(double share)
{
    return QString::number(share * 100.0, 'f', 2) + QLatin1Char('%');
}

QString orDash(const std::optional<qint64>& value)
{
    return value ? QString::number(*value) : QStringLiteral("-");
}

QJsonObject skewJson(const SkewFigures& skew)
{
    return QJsonObject{{QStringLiteral("p50"), double(skew.p50Us)},
                       {QStringLiteral("p99"), double(skew.p99Us)},
                       {QStringLiteral("max"), double(skew.maxUs)},
                       {QStringLiteral("signed_median"), double(skew.signedMedianUs)},
                       {QStringLiteral("frames_matched"), skew.matched},
                       {QStringLiteral("frames_unmatched"), skew.unmatched},
                       {QStringLiteral("slope_ppm"), skew.slopePpm}};
}

QJsonArray integers(const std::vector<qint64>& values)
{
    QJsonArray array;
    for (qint64 value : values)
        array.append(double(value));
    return array;
}

QJsonArray binsJson(const std::vector<SkewBin>& bins)
{
    QJsonArray array;
    for (const SkewBin& bin : bins)
        array.append(QJsonObject{{QStringLiteral("start_s"), double(bin.startNs) / 1e9},
                                 {QStringLiteral("frames_matched"), bin.matched},
                                 {QStringLiteral("p50"), double(bin.p50Us)},
                                 {QStringLiteral("p99"), double(bin.p99Us)},
                                 {QStringLiteral("max"), double(bin.maxUs)},
                                 {QStringLiteral("worst_signed_median"), double(bin.worstSignedMedianUs)},
                                 {QStringLiteral("slaves_signed_median"), integers(bin.slaveSignedMedianUs)},
                                 {QStringLiteral("same_frame_share"), bin.sameFrameShare},
                                 {QStringLiteral("master_spacing_p99"), double(bin.masterSpacingP99Us)}});
    return array;
}

QJsonObject loopsJson(const LoopFigures& loops)
{
    return QJsonObject{{QStringLiteral("count"), loops.loopPoints},
                       {QStringLiteral("frame_duration_us"), double(loops.frameDurationUs)},
                       {QStringLiteral("worst_late_us"), double(loops.worstLateUs)},
                       {QStringLiteral("worst_late_per_player_us"), integers(loops.worstLatePerPlayerUs)}};
}

} // namespace

QStringList SessionReport::tableLines() const
{
    TextTable table({QStringLiteral("player"), QStringLiteral("commands"), QStringLiteral("offset found / injected us"),
                     QStringLiteral("skew p50 / p99 / max us"), QStringLiteral("same frame"), QStringLiteral("frames")});
    for (const PlayerRow& row : rows) {
        const QString offset = row.injectedUs ? orDash(row.foundUs) + QStringLiteral(" / ") + orDash(row.injectedUs)
                                              : QStringLiteral("(reference)");
        const QString skew = row.skew ? QStringLiteral("%1 / %2 / %3").arg(row.skew->p50Us).arg(row.skew->p99Us).arg(row.skew->maxUs)
                                      : QStringLiteral("(reference)");
        table.addRow({row.name, QString::number(row.commands), offset, skew, percent(row.sameFrameShare),
                      QString::number(row.frames)});
    }
    QStringList lines{QStringLiteral("Session on the %1%2").arg(title, waitsMet ? QString() : QStringLiteral(" (a wait was NOT met)"))};
    lines += table.lines();
    lines.append(summaryLine());
    lines += binLines();
    const auto realtime = std::count_if(rows.begin(), rows.end(), [](const PlayerRow& row) { return row.realtime; });
    if (realtime < qint64(rows.size()))
        lines.append(QStringLiteral("Only %1 of %2 players showed their frames from a thread at real-time priority (it needs "
                                    "root or an rtprio limit): a busy machine then delays the others' frames.")
                         .arg(realtime)
                         .arg(rows.size()));
    return lines;
}

QString SessionReport::summaryLine() const
{
    return QStringLiteral("All slaves against the master: skew p50 %1 us, p99 %2 us, max %3 us over %4 frames; "
                          "all %5 players showed the same frame %6 of the time.")
        .arg(pooled.p50Us)
        .arg(pooled.p99Us)
        .arg(pooled.maxUs)
        .arg(pooled.matched)
        .arg(rows.size())
        .arg(percent(allSameShare));
}

QStringList SessionReport::binLines() const
{
    if (bins.size() < 2)
        return {};
    const auto worstBy = [this](auto field) {
        return *std::max_element(bins.begin(), bins.end(), [field](const SkewBin& a, const SkewBin& b) { return field(a) < field(b); });
    };
    const SkewBin p99 = worstBy([](const SkewBin& b) { return b.p99Us; });
    const SkewBin median = worstBy([](const SkewBin& b) { return std::llabs(b.worstSignedMedianUs); });
    const SkewBin share = worstBy([](const SkewBin& b) { return -b.sameFrameShare; });
    const SkewBin spacing = worstBy([](const SkewBin& b) { return b.masterSpacingP99Us; });
    QStringList lines{QStringLiteral("Over %1 bins of 10 s: the worst p99 %2 us (at %3 s), the worst signed median %4 us (at %5 s), "
                                     "the lowest same-frame share %6 (at %7 s).")
                          .arg(bins.size())
                          .arg(p99.p99Us)
                          .arg(p99.startNs / 1000000000)
                          .arg(median.worstSignedMedianUs)
                          .arg(median.startNs / 1000000000)
                          .arg(percent(share.sameFrameShare))
                          .arg(share.startNs / 1000000000),
                      QStringLiteral("The master's own frame spacing, against its time stamps: p50 %1 us, p99 %2 us, max %3 us "
                                     "(the worst 10 s: p99 %4 us at %5 s); the machine's wake-up noise, in every skew too.")
                          .arg(masterSpacing.p50Us)
                          .arg(masterSpacing.p99Us)
                          .arg(masterSpacing.maxUs)
                          .arg(spacing.masterSpacingP99Us)
                          .arg(spacing.startNs / 1000000000)};
    if (loops.loopPoints > 0)
        lines.append(QStringLiteral("At %1 loop points the latest first frame of a new play came %2 us after its instant "
                                    "(one frame: %3 us).")
                         .arg(loops.loopPoints)
                         .arg(loops.worstLateUs)
                         .arg(loops.frameDurationUs));
    return lines;
}

QJsonObject SessionReport::toJson() const
{
    QJsonArray players;
    for (const PlayerRow& row : rows) {
        QJsonObject player{{QStringLiteral("name"), row.name},
                           {QStringLiteral("commands"), row.commands},
                           {QStringLiteral("frames"), row.frames},
                           {QStringLiteral("realtime"), row.realtime},
                           {QStringLiteral("same_frame_share"), row.sameFrameShare}};
        if (row.injectedUs)
            player.insert(QStringLiteral("injected_offset_us"), double(*row.injectedUs));
        if (row.foundUs)
            player.insert(QStringLiteral("found_offset_us"), double(*row.foundUs));
        if (row.skew)
            player.insert(QStringLiteral("skew_us"), skewJson(*row.skew));
        if (row.injectedUs)
            player.insert(QStringLiteral("drift_ppm"), row.driftPpm);
        players.append(player);
    }
    return QJsonObject{{QStringLiteral("mode"), mode},
                       {QStringLiteral("waits_met"), waitsMet},
                       {QStringLiteral("players"), int(rows.size())},
                       {QStringLiteral("skew_us"), skewJson(pooled)},
                       {QStringLiteral("same_frame_share"), allSameShare},
                       {QStringLiteral("per_player"), players},
                       {QStringLiteral("bins"), binsJson(bins)},
                       {QStringLiteral("master_spacing_us"), QJsonObject{{QStringLiteral("p50"), double(masterSpacing.p50Us)},
                                                                          {QStringLiteral("p99"), double(masterSpacing.p99Us)},
                                                                          {QStringLiteral("max"), double(masterSpacing.maxUs)}}},
                       {QStringLiteral("wake_noise_p99_us"), double(wakeNoiseUs)},
                       {QStringLiteral("loop_points"), loopsJson(loops)}};
}
