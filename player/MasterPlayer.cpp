// SPDX-License-Identifier: MIT
#include "MasterPlayer.h"

#include "EventLine.h"
#include "HostStartup.h"
#include "EventLoopWait.h"
#include "PipelineClock.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

constexpr int kLayer = 0;
constexpr int kFindTimeoutMs = 10000;
constexpr int kFindRepeatMs = 1000;
constexpr int kClockSyncTimeoutMs = 10000;
constexpr int kOffsetSettleMs = 1500;  // the slaves' sliding mean fills with ten samples 100 ms apart
constexpr int kPrepareTimeoutMs = 20000;
constexpr int kCompleteTimeoutMs = 30000;
constexpr int kPausedHoldMs = 400;
constexpr int kStepHoldMs = 250;
constexpr double kFastRate = 2.0;
// How often a wait asks the roster again; each query prints a line per entry.
constexpr int kPollMs = 5;

QString mediaUri(const QString& media)
{
    if (media.contains(QLatin1String("://")))
        return media;
    return QUrl::fromLocalFile(QFileInfo(media).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

} // namespace

MasterPlayer::MasterPlayer(PlayerOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs),
      m_playback(m_log),
      m_admitted(m_options.slaves),
      m_input(
          [this](const QString& line) {
              const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
              if (words.size() == 2 && words[0] == QLatin1String("admit"))
                  m_pendingKeys.append(words[1]);
              else if (!words.isEmpty() && words != QStringList{QStringLiteral("quit")})  // the session ends by itself
                  printOutputLine(QStringLiteral("multinet-player master: ignored '%1' (input takes: admit IP_PID)").arg(line));
          },
          [] {})
{
    // The pipeline runs on this host's clock, so an instant on the host clock is a base time as it is.
    m_pipelineClock = PipelineClock::monotonic(m_options.clockOffsetUs * 1000);
    m_callbacks.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    m_net = std::make_unique<NetControlThread>(&m_callbacks, m_options.group, m_options.ip, m_options.port);
    m_net->control().setMasterFlag(true);
    m_net->control().setSlaves(m_options.slaves);
    m_playback.media().setHandlers(
        [this] { m_ended = true; },
        [](const QString& message) { EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print(); });
    m_playback.setLateErrorHandler(
        [](const QString& message) { EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print(); });
}

MasterPlayer::~MasterPlayer()
{
    m_net.reset();
    m_playback.media().halt();
    if (m_clockProvider)
        gst_object_unref(m_clockProvider);
    gst_object_unref(m_pipelineClock);
}

int MasterPlayer::exec()
{
    MultiNetControl& control = m_net->control();
    if (!listeningOrSayWhy(control.isListening(), control.errorString(), QStringLiteral("multinet-player master")))
        return 1;
    EventLine(QStringLiteral("ready"))
        .add(QStringLiteral("role"), "master")
        .add(QStringLiteral("ip"), m_options.ip)
        .add(QStringLiteral("pid"), QCoreApplication::applicationPid())
        .add(QStringLiteral("slaves"), int(m_options.slaves.size()))
        .add(QStringLiteral("clock"), m_options.clock == SyncClock::GstNet ? "gstreamer-net" : "library")
        .print();
    int status = 1;
    QTimer::singleShot(0, [this, &status] {
        status = runSession() ? 0 : 1;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return status;
}

bool MasterPlayer::runSession()
{
    if (m_options.clock == SyncClock::GstNet) {
        QString error;
        m_clockProvider = PipelineClock::serve(m_pipelineClock, m_options.ip, m_options.netClockPort, error);
        if (!step("net-clock", m_clockProvider != nullptr, error))
            return false;
    }
    bool ok = findSlaves() && synchroniseClocks() && prepare();
    if (ok) {
        const qint64 duration = std::max<qint64>(m_playback.media().durationNs(), 2000000000);
        const qint64 frame = m_playback.media().grid().frameDurationNs();
        auto fraction = [duration](double f) { return int(std::llround(double(duration) * f / 1e6)); };
        ok = command(SyncCommand::Start, 0);
        hold(m_options.marginMs + fraction(0.25));
        ok = command(SyncCommand::Seek, m_playback.snapNs(duration / 2)) && ok;
        hold(m_options.marginMs + fraction(0.15));
        ok = command(SyncCommand::Pause) && ok;
        hold(m_options.marginMs + kPausedHoldMs);
        const qint64 paused = m_playback.timeline().positionNs;
        ok = command(SyncCommand::Step, paused + frame) && ok;
        hold(m_options.marginMs + kStepHoldMs);
        ok = command(SyncCommand::StepBack, paused) && ok;
        hold(m_options.marginMs + kStepHoldMs);
        ok = command(SyncCommand::Start, paused) && ok;
        hold(m_options.marginMs + fraction(0.08));
        ok = command(SyncCommand::Speed, 0, true, kFastRate) && ok;
        ok = playToEndAndComplete() && ok;
        ok = command(SyncCommand::Stop) && ok;
        hold(m_options.marginMs + 100);
    }
    m_playback.media().halt();
    QString error;
    EventLine frames(QStringLiteral("frames"));
    frames.add(QStringLiteral("count"), int(m_log.frames().size()))
        .add(QStringLiteral("realtime"), m_playback.media().realtime());
    if (!m_options.frameLog.isEmpty() && !m_log.write(m_options.frameLog, error))
        frames.add(QStringLiteral("error"), error);
    frames.print();
    EventLine(QStringLiteral("finished")).add(QStringLiteral("ok"), ok).print();
    return ok;
}

bool MasterPlayer::findSlaves()
{
    const std::size_t wanted = std::size_t(m_admitted.size());
    MultiNetControl& control = m_net->control();
    QElapsedTimer elapsed;
    elapsed.start();
    bool met = false;
    while (!met && elapsed.elapsed() < kFindTimeoutMs) {
        control.findSlavePlayer();
        met = runEventLoopUntil([&] { return control.getSlavesPlayer().size() >= wanted; }, kFindRepeatMs, kPollMs);
    }
    return step("find", met, QStringLiteral("slaves=%1/%2").arg(control.getSlavesPlayer().size()).arg(wanted));
}

bool MasterPlayer::synchroniseClocks(const QStringList& newKeys)
{
    MultiNetControl& control = m_net->control();
    MultiNetControl::m_haveStartClockSync = false;
    control.notifySlaveStartClockSync();
    auto newOnesSynced = [&] {
        int synced = 0;
        for (const NetControlNS::struAddress& entry : control.getSlavesPlayer()) {
            const QString key = QString::fromStdString(entry.ip) + QLatin1Char('_') + QString::number(entry.processId);
            synced += newKeys.contains(key) && entry.isClockSynced ? 1 : 0;
        }
        return synced >= newKeys.size();
    };
    const bool met = runEventLoopUntil([&] { return newKeys.isEmpty() ? control.isAllSlaveClockSucced() : newOnesSynced(); },
                                       kClockSyncTimeoutMs, kPollMs);
    hold(kOffsetSettleMs);
    return step("clocksync", met, QString());
}

bool MasterPlayer::prepare()
{
    m_uri = mediaUri(m_options.media);
    QString error;
    if (!m_playback.media().open(m_uri, m_pipelineClock, m_options.window, m_options.label, error))
        return step("prepare", false, error);
    return step("prepare", prepareSlaves(), m_uri);
}

bool MasterPlayer::prepareSlaves()
{
    CommandData data;
    data.set(QStringLiteral("uri"), m_uri).set(QStringLiteral("tag"), QStringLiteral("cmd%1").arg(m_nextTag++));
    QByteArray bytes = data.bytes();
    MultiNetControl& control = m_net->control();
    if (!control.notifySlavePrepareAsync(kLayer, bytes.data(), int(bytes.size())))
        return false;
    return runEventLoopUntil([&] { return control.isAllSlavePrepared(kLayer); }, kPrepareTimeoutMs, kPollMs);
}

bool MasterPlayer::join()
{
    m_joining = true;
    const QStringList keys = m_pendingKeys;
    m_pendingKeys.clear();
    for (const QString& key : keys)
        m_admitted.insert(key);
    m_net->control().setSlaves(m_admitted);
    bool ok = findSlaves() && synchroniseClocks(keys);
    ok = ok && step("prepare", prepareSlaves(), QStringLiteral("again"));
    if (ok) {
        const Timeline& now = m_playback.timeline();
        ok = now.playing ? command(SyncCommand::Start, -1) : command(SyncCommand::Seek, now.positionNs, false);
    }
    m_joining = false;
    return step("join", ok, keys.join(QLatin1Char(',')));
}

bool MasterPlayer::command(SyncCommand::Kind kind, qint64 positionNs, bool playOn, double rate)
{
    SyncCommand sync;
    sync.kind = kind;
    sync.playOn = playOn;
    sync.rate = rate;
    sync.tag = QStringLiteral("cmd%1").arg(m_nextTag++);
    const qint64 atUs = m_clock.nowUs() + qint64(m_options.marginMs) * 1000;
    sync.atHostUs = double(atUs);
    const qint64 atClockNs = atUs * 1000;
    // A pause acts where the programme is at the instant, a speed change goes on from the frame after the
    // last one shown; others act where they are told.
    if (kind == SyncCommand::Pause)
        positionNs = m_playback.snapNs(m_playback.timeline().positionAt(atClockNs));
    else if (kind == SyncCommand::Speed)
        positionNs = m_playback.continuingPositionNs(atClockNs);
    else if (kind == SyncCommand::Start && positionNs < 0)
        positionNs = m_playback.timeline().positionAt(atClockNs);
    sync.positionUs = positionNs / 1000;
    const qint64 mono = HostClock::monotonicUs();
    const bool sent = sync.send(m_net->control());
    EventLine(QStringLiteral("sent"))
        .add(QStringLiteral("command"), SyncCommand::name(kind))
        .add(QStringLiteral("tag"), sync.tag)
        .add(QStringLiteral("position-us"), sync.positionUs)
        .add(QStringLiteral("mono-us"), mono)
        .add(QStringLiteral("result"), sent)
        .print();
    QString error;
    const bool applied = m_playback.apply(sync, atClockNs, error);
    return step(SyncCommand::name(kind), sent && applied, error);
}

bool MasterPlayer::playToEndAndComplete()
{
    MultiNetControl& control = m_net->control();
    const bool met = runEventLoopUntil([&] { return m_ended && control.isAllSlaveComplete(kLayer); }, kCompleteTimeoutMs, kPollMs);
    return step("complete", met, m_ended ? QString() : QStringLiteral("the master did not reach the end"));
}

void MasterPlayer::hold(int ms)
{
    QElapsedTimer held;
    held.start();
    auto joinWaits = [this] { return !m_pendingKeys.isEmpty() && !m_joining; };
    for (qint64 left = ms; left > 0; left = ms - held.elapsed()) {
        if (runEventLoopUntil(joinWaits, int(left), kPollMs))
            join();
    }
}

bool MasterPlayer::step(const char* name, bool met, const QString& detail)
{
    EventLine line(QStringLiteral("session"));
    line.add(QStringLiteral("step"), name).add(QStringLiteral("met"), met);
    if (!detail.isEmpty())
        line.add(QStringLiteral("detail"), detail);
    line.print();
    return met;
}
