// SPDX-License-Identifier: MIT
#include "SlavePlayer.h"

#include "EventLine.h"
#include "HostStartup.h"

#include <QCoreApplication>

#include <cmath>

namespace {

constexpr int kLayer = 0;
// The presentation figures: frames taken in four times a second, handed to the library once a second.
constexpr int kMeasureEveryMs = 250;
constexpr qint64 kNsPerUs = 1000;
constexpr qint64 kNsPerMs = 1000000;

void printError(const QString& message)
{
    EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print();
}

} // namespace

SlavePlayer::SlavePlayer(PlayerOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs, m_options.driftPpm),
      m_playback(m_log),
      m_callbacks(makeCallbacks()),
      m_pipelineClock(
          m_options, m_clock, [this] { return m_net->control().getClockEstimate(); },
          [this] { return m_playback.timeline().playing; }),
      m_net(std::make_unique<NetControlThread>(&m_callbacks, m_options)),
      m_input([this](const QString& line) {
                  if (line.trimmed() == QLatin1String("quit"))
                      finish();
              },
              [this] {
                  if (m_options.endsWithInput)
                      finish();
              }),
      m_stopSignals([this] { finish(); })
{
    MultiNetControl& control = m_net->control();
    control.setSlaveFlag(true);
    control.setMasterIp(m_options.masterIp.toStdString());
    control.setAcknowledgedDelivery(true);
    control.setRecovery(true);
    control.setOptions(control.options() | NetControlNS::HealthReports);
    control.setHealthText(healthText().toStdString());
    m_playback.setTrimNs(qint64(m_options.trimMs) * kNsPerMs);
    m_log.startTap();
    m_measureTimer.setInterval(kMeasureEveryMs);
    QObject::connect(&m_measureTimer, &QTimer::timeout, [this] { measurePresentation(); });
    m_measureTimer.start();
    m_playback.media().setHandlers(
        [this] {
            const bool sent = m_net->control().reportComplete(kLayer);
            EventLine(QStringLiteral("complete")).add(QStringLiteral("reported"), sent).print();
        },
        printError);
    m_playback.setLateErrorHandler(printError);
    m_playback.media().setSound(m_options.sound);
    m_playback.setWaitConversion([this](qint64 ns) { return m_pipelineClock.toRealNs(ns); });
    m_playback.setRepositionHandler([this] { m_pipelineClock.settleBeforeRepositioning(); });
    QString error;
    if (!m_log.streamTo(m_options.frameLog, error, printError))
        printError(error);
}

SlavePlayer::~SlavePlayer()
{
    m_net.reset();  // no callback runs after this
}

int SlavePlayer::exec()
{
    MultiNetControl& control = m_net->control();
    if (!listeningOrSayWhy(control.isListening(), control.errorString(), QStringLiteral("multinet-player slave")))
        return 1;
    EventLine(QStringLiteral("ready"))
        .add(QStringLiteral("role"), "slave")
        .add(QStringLiteral("ip"), m_options.ip)
        .add(QStringLiteral("pid"), QCoreApplication::applicationPid())
        .add(QStringLiteral("key"), key())
        .add(QStringLiteral("mono-us"), HostClock::monotonicUs())
        .add(QStringLiteral("clock-offset-us"), m_options.clockOffsetUs)
        .add(QStringLiteral("drift-ppm"), m_options.driftPpm, 1)
        .add(QStringLiteral("clock"), m_options.clock == SyncClock::GstNet ? "gstreamer-net" : "library")
        .add(QStringLiteral("rate-correction"), m_options.rateCorrection)
        .add(QStringLiteral("ignore-offset"), m_options.ignoreOffset)
        .add(QStringLiteral("trim-ms"), m_options.trimMs)
        .print();
    return QCoreApplication::exec();
}

NetControlNS::slaveControlCbk SlavePlayer::makeCallbacks()
{
    NetControlNS::slaveControlCbk callbacks;
    SyncCommand::receiveInto(callbacks, [this](const char* name, const CommandData& data, std::optional<SyncCommand> command) {
        printReceived(name, data);
        const QString unreadable = command ? QString() : SyncCommand::unreadable(name, data);
        QMetaObject::invokeMethod(
            &m_mainContext,
            [this, command, unreadable] {
                if (!command)
                    printError(unreadable);
                else if (command->kind == SyncCommand::Prepare)
                    prepare(*command);
                else if (command->kind == SyncCommand::Trim)
                    trim(*command);
                else
                    carryOut(*command);
            },
            Qt::QueuedConnection);
    });
    callbacks.getLayerIdsCbk = [] { return std::vector<int>{kLayer}; };
    callbacks.clockOffsetCbk = [this](double seconds) {
        m_pipelineClock.setMeanOffsetUs(std::llround(seconds * 1e6));
        printClockOffset(seconds);
    };
    callbacks.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    callbacks.masterLostCbk = [](bool) { EventLine(QStringLiteral("master-lost")).print(); };
    return callbacks;
}

void SlavePlayer::printReceived(const char* name, const CommandData& data) const
{
    EventLine(QStringLiteral("received"))
        .add(QStringLiteral("command"), name)
        .add(QStringLiteral("cmd"), data.value(QStringLiteral("cmd")))
        .add(QStringLiteral("mono-us"), HostClock::monotonicUs())
        .print();
}

void SlavePlayer::printIgnored(const SyncCommand& command, const QString& reason) const
{
    EventLine(QStringLiteral("ignored"))
        .add(QStringLiteral("command"), SyncCommand::name(command.kind))
        .add(QStringLiteral("cmd"), command.id)
        .add(QStringLiteral("run"), command.run)
        .add(QStringLiteral("reason"), reason)
        .print();
}

void SlavePlayer::printClockOffset(double meanSeconds) const
{
    // The mean of ten the library hands over, and its estimate of the master's clock beside it.
    const NetControlNS::struClockEstimate estimate = m_net->control().getClockEstimate();
    EventLine(QStringLiteral("clock-offset"))
        .add(QStringLiteral("us"), qint64(std::llround(meanSeconds * 1e6)))
        .add(QStringLiteral("estimate-us"), qint64(std::llround(estimate.offsetAtUs(m_clock.nowUs()))))
        .add(QStringLiteral("rate-ppm"), estimate.ratePpm, 2)
        .print();
}

void SlavePlayer::prepare(const SyncCommand& command)
{
    QString why;
    if (!m_applied.takeIfNew(command, &why)) {
        printIgnored(command, why);
        return;
    }
    const bool again = command.programme == m_playback.media().programme() && m_playback.media().isOpen();
    if (again) {
        // Prepared again, for a player that joins or a master that started again: this one plays on as it is.
        EventLine(QStringLiteral("prepared"))
            .add(QStringLiteral("cmd"), command.id)
            .add(QStringLiteral("ok"), m_playback.media().isOpen())
            .add(QStringLiteral("again"), true)
            .add(QStringLiteral("reported"), m_playback.media().isOpen() && m_net->control().reportPrepared(kLayer))
            .print();
        return;
    }
    QString error;
    GstClock* clock = m_pipelineClock.makePipelineClock(error);
    const bool opened =
        clock && m_playback.media().open(command.programme, clock, m_options.window, m_options.label, error);
    if (clock)
        gst_object_unref(clock);
    EventLine prepared(QStringLiteral("prepared"));
    prepared.add(QStringLiteral("cmd"), command.id)
        .add(QStringLiteral("ok"), opened)
        .add(QStringLiteral("items"), int(command.programme.uris().size()));
    if (!opened) {
        prepared.add(QStringLiteral("error"), error).print();
        return;
    }
    m_meter.reset();  // a new programme: its frames are counted from here
    prepared.add(QStringLiteral("reported"), m_net->control().reportPrepared(kLayer)).print();
}

void SlavePlayer::carryOut(const SyncCommand& command)
{
    QString why;
    if (!m_applied.takeIfNew(command, &why)) {
        printIgnored(command, why);
        return;
    }
    QString error;
    const qint64 atClockNs = m_pipelineClock.toClockNs(command.atHostUs);
    const bool ok = m_playback.apply(command, atClockNs, error);
    const qint64 nowClockNs = m_playback.media().clock() ? qint64(gst_clock_get_time(m_playback.media().clock())) : 0;
    EventLine applied(QStringLiteral("applied"));
    applied.add(QStringLiteral("command"), SyncCommand::name(command.kind))
        .add(QStringLiteral("cmd"), command.id)
        .add(QStringLiteral("play"), command.play)
        .add(QStringLiteral("position-us"), command.positionUs)
        .add(QStringLiteral("lead-us"), (atClockNs - nowClockNs) / 1000)
        .add(QStringLiteral("ok"), ok);
    if (!ok)
        applied.add(QStringLiteral("error"), error);
    applied.print();
}

void SlavePlayer::trim(const SyncCommand& command)
{
    if (command.target != key())
        return;  // another screen's
    QString why;
    if (!m_applied.takeIfNew(command, &why)) {
        printIgnored(command, why);
        return;
    }
    const qint64 trimNs = command.trimUs * kNsPerUs;
    const QString refusal = trimRefusal(int(command.trimUs / 1000), m_options.marginMs);
    EventLine applied(QStringLiteral("applied"));
    applied.add(QStringLiteral("command"), SyncCommand::name(command.kind))
        .add(QStringLiteral("cmd"), command.id)
        .add(QStringLiteral("trim-us"), command.trimUs)
        .add(QStringLiteral("was-us"), m_playback.trimNs() / kNsPerUs);
    if (refusal.isEmpty())
        m_playback.setTrimNs(trimNs);
    applied.add(QStringLiteral("mono-us"), HostClock::monotonicUs()).add(QStringLiteral("ok"), refusal.isEmpty());
    if (!refusal.isEmpty())
        applied.add(QStringLiteral("error"), QStringLiteral("trim %1 us refused: %2").arg(command.trimUs).arg(refusal));
    applied.print();
}

QString SlavePlayer::key() const
{
    return m_options.ip + QLatin1Char('_') + QString::number(QCoreApplication::applicationPid());
}

QString SlavePlayer::healthText()
{
    const QString decoder = m_playback.media().decoderName();
    return decoder.isEmpty() ? m_options.label : QStringLiteral("%1 (%2)").arg(m_options.label, decoder);
}

void SlavePlayer::measurePresentation()
{
    const std::vector<ShownFrame> frames = m_log.takeTapped();
    GstClock* clock = m_playback.media().clock();
    const qint64 clockNs = clock ? qint64(gst_clock_get_time(clock)) : -1;
    const qint64 monoNs = FrameLog::monotonicNs();
    // Both clocks read at the last measure and now: a frame shown in between is placed on the pipeline's
    // clock by the straight line through the two readings, whatever rate the clock ran at (steered onto
    // the master's time line, or drifting).
    const bool between = clock && clock == m_measuredClock && monoNs > m_measuredMonoNs;
    const double clockPerMono = between ? double(clockNs - m_measuredClockNs) / double(monoNs - m_measuredMonoNs) : 1.0;
    for (const ShownFrame& frame : frames) {
        if (!clock || frame.kind != ShownFrame::Rendered) {
            m_meter.add(frame.shownNs());
            continue;
        }
        const qint64 shownClockNs = clockNs - std::llround(double(monoNs - frame.shownNs()) * clockPerMono);
        const std::optional<SyncedPlayback::FrameDue> due = m_playback.dueOf(frame.key, shownClockNs);
        if (!due) {
            m_meter.add(frame.shownNs());
            continue;
        }
        const qint64 lateNs = std::llround(double(shownClockNs - due->clockNs) / clockPerMono);
        m_meter.add(frame.shownNs(), lateNs, due->line, due->index);
    }
    m_measuredClock = clock;
    m_measuredClockNs = clockNs;
    m_measuredMonoNs = monoNs;
    // Every measure, so that the library's report, sent once a second on its own time, carries figures at
    // most one measure old.
    MultiNetControl& control = m_net->control();
    control.setPresentation(m_meter.figures(monoNs));
    control.setHealthText(healthText().toStdString());
}

void SlavePlayer::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_playback.media().halt();
    QString error;
    EventLine frames(QStringLiteral("frames"));
    frames.add(QStringLiteral("count"), m_log.count()).add(QStringLiteral("realtime"), m_playback.media().realtime());
    if (!m_log.flush(error))
        frames.add(QStringLiteral("error"), error);
    frames.print();
    QCoreApplication::quit();
}
