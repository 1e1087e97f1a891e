// SPDX-License-Identifier: MIT
#include "MasterPlayer.h"

#include "EventLine.h"
#include "EventLoopWait.h"
#include "HostStartup.h"
#include "PipelineClock.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kLayer = 0;
constexpr int kFindTimeoutMs = 10000;
constexpr int kClockSyncTimeoutMs = 10000;
// The slaves' clock samples come every 100 ms until a start: their estimate has a rate after a second.
constexpr int kOffsetSettleMs = 1500;
constexpr int kPrepareTimeoutMs = 20000;
constexpr int kCompleteTimeoutMs = 30000;
constexpr int kStepHoldMs = 250;
constexpr double kFastRate = 2.0;
// How often a wait asks the roster again; the complete query prints a line per entry, so it is asked less.
constexpr int kPollMs = 5;
constexpr int kCompletePollMs = 100;
// How often the master searches for slaves while it plays, keeping the roster.
constexpr int kSearchEveryMs = 1000;

QString mediaUri(const QString& media)
{
    if (media.contains(QLatin1String("://")))
        return media;
    return QUrl::fromLocalFile(QFileInfo(media).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

// The items of a playlist file, one media path or URI a line ('#' starts a comment); paths are taken
// relative to the file's folder.
std::optional<QStringList> readPlaylist(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read the playlist %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QStringList uris;
    const QString folder = QFileInfo(path).absolutePath();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const bool relative = !line.contains(QLatin1String("://")) && QFileInfo(line).isRelative();
        uris.append(mediaUri(relative ? folder + QLatin1Char('/') + line : line));
    }
    if (uris.isEmpty()) {
        error = QStringLiteral("the playlist %1 lists no media").arg(path);
        return std::nullopt;
    }
    return uris;
}

void printError(const QString& message)
{
    EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print();
}

} // namespace

MasterPlayer::MasterPlayer(PlayerOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs, m_options.driftPpm),
      m_playback(m_log),
      m_input(
          [this](const QString& line) {
              const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
              if (words.size() == 2 && words[0] == QLatin1String("admit"))
                  m_pendingKeys.append(words[1]);
              else if (words == QStringList{QStringLiteral("quit")})
                  requestStop();
              else if (!words.isEmpty())
                  printOutputLine(QStringLiteral("multinet-player master: ignored '%1' (input takes: admit IP_PID, quit)").arg(line));
          },
          [] {}),
      m_stopSignals([this] { requestStop(); })
{
    // The pipeline runs on this host's clock, so an instant on the host clock is a base time as it is.
    m_pipelineClock = PipelineClock::ofHost(m_clock);
    m_callbacks.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    m_net = std::make_unique<NetControlThread>(&m_callbacks, m_options);
    MultiNetControl& control = m_net->control();
    control.setMasterFlag(true);
    control.setSlaves(m_options.slaves);
    control.setAcknowledgedDelivery(true);
    control.setRecovery(true);
    control.setAdmitRestartedSlaves(true);
    m_playback.media().setHandlers([this] { m_ended = true; }, printError);
    m_playback.setLateErrorHandler(printError);
    m_playback.setWaitConversion([this](qint64 ns) { return m_clock.toRealUs(ns / 1000) * 1000; });
    QString error;
    if (!m_log.streamTo(m_options.frameLog, error, printError))
        printError(error);
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
        .add(QStringLiteral("mono-us"), HostClock::monotonicUs())
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
    // The slaves that are not ready in time join later, by the same path as a slave that joins late.
    bool ok = findSlaves();
    ok = synchroniseClocks() && ok;
    const bool plain = m_options.loop || !m_options.playlist.isEmpty() || m_options.forSeconds > 0;
    if (prepare() && !m_stopRequested)
        ok = (plain ? playProgramme() : playSession()) && ok;
    else
        ok = false;
    m_playback.media().halt();
    QString error;
    EventLine frames(QStringLiteral("frames"));
    frames.add(QStringLiteral("count"), m_log.count()).add(QStringLiteral("realtime"), m_playback.media().realtime());
    if (!m_log.flush(error))
        frames.add(QStringLiteral("error"), error);
    frames.print();
    EventLine(QStringLiteral("finished")).add(QStringLiteral("ok"), ok).print();
    return ok;
}

bool MasterPlayer::playSession()
{
    const qint64 duration = std::max<qint64>(m_playback.media().itemDurationNs(0), 2000000000);
    const qint64 frame = m_playback.media().grid().frameDurationNs();
    auto fraction = [duration](double f) { return int(std::llround(double(duration) * f / 1e6)); };
    qint64 paused = 0;
    // Each step sends a command and lets the programme play on for a while; a stop ends the session early.
    const std::vector<std::function<bool()>> steps{
        [&] { return command(SyncCommand::Start, 0) && (hold(m_options.marginMs + fraction(0.25)), true); },
        [&] { return command(SyncCommand::Seek, m_playback.snapNs(duration / 2)) && (hold(m_options.marginMs + fraction(0.15)), true); },
        [&] { return command(SyncCommand::Pause) && (hold(m_options.marginMs + m_options.pauseMs), true); },
        [&] {
            paused = m_playback.timeline().positionNs;
            return command(SyncCommand::Step, paused + frame) && (hold(m_options.marginMs + kStepHoldMs), true);
        },
        [&] { return command(SyncCommand::StepBack, paused) && (hold(m_options.marginMs + kStepHoldMs), true); },
        [&] { return command(SyncCommand::Start, paused) && (hold(m_options.marginMs + fraction(0.08)), true); },
        [&] { return command(SyncCommand::Speed, 0, true, kFastRate); },
        [&] { return playToEndAndComplete(); },
    };
    m_started = true;
    bool ok = true;
    for (std::size_t i = 0; i < steps.size() && !m_stopRequested; ++i)
        ok = steps[i]() && ok;
    ok = command(SyncCommand::Stop) && ok;
    hold(m_options.marginMs + 100);
    return ok && !m_stopRequested;
}

bool MasterPlayer::playProgramme()
{
    m_started = true;
    bool ok = command(SyncCommand::Start, 0);
    QElapsedTimer playing;
    playing.start();
    const qint64 forMs = std::llround(m_options.forSeconds * 1000);
    while (!m_stopRequested && !m_ended) {
        const qint64 left = forMs > 0 ? forMs - playing.elapsed() : qint64(kSearchEveryMs);
        if (left <= 0)
            break;
        hold(int(std::min<qint64>(left, kSearchEveryMs)));
    }
    if (m_ended)
        ok = playToEndAndComplete() && ok;
    ok = command(SyncCommand::Stop) && ok;
    hold(m_options.marginMs + 100);
    step("programme", ok, QStringLiteral("played=%1s").arg(double(playing.elapsed()) / 1000.0, 0, 'f', 1));
    return ok;
}

bool MasterPlayer::findSlaves()
{
    MultiNetControl& control = m_net->control();
    control.findSlavePlayer();
    m_sinceSearch.start();
    // Searched again, keeping what was found, until every admitted slave has answered: a search or an
    // answer may be lost.
    auto missing = [&] {
        QStringList keys;
        const QStringList found = rosterKeys();
        for (const QString& key : control.getAdmittedSlaves()) {
            if (!found.contains(key))
                keys.append(key);
        }
        return keys;
    };
    const bool met = waitFor(
        [&] {
            if (m_sinceSearch.elapsed() >= kSearchEveryMs) {
                control.refreshSlavePlayers();
                m_sinceSearch.restart();
            }
            return missing().isEmpty();
        },
        kFindTimeoutMs);
    m_rosterWatch.know(rosterKeys());
    const QStringList absent = missing();
    QString detail = QStringLiteral("slaves=%1/%2").arg(rosterKeys().size()).arg(control.getAdmittedSlaves().size());
    if (!absent.isEmpty())
        detail += QStringLiteral(" missing=") + absent.join(QLatin1Char(','));
    return step("find", met, detail);
}

bool MasterPlayer::synchroniseClocks(const QStringList& keys)
{
    MultiNetControl& control = m_net->control();
    // Slaves whose clock sync runs already take a new start as a repeat (recovery): only the new ones start.
    MultiNetControl::m_haveStartClockSync = false;
    control.notifySlaveStartClockSync();
    const bool met = waitFor([&] { return lagging(keys, &NetControlNS::struAddress::isClockSynced).isEmpty(); },
                             kClockSyncTimeoutMs);
    const QStringList behind = lagging(keys, &NetControlNS::struAddress::isClockSynced);
    hold(kOffsetSettleMs);
    return step("clocksync", met, behind.isEmpty() ? QString() : QStringLiteral("missing=") + behind.join(QLatin1Char(',')));
}

bool MasterPlayer::prepare()
{
    QString error;
    if (!m_options.playlist.isEmpty()) {
        const std::optional<QStringList> uris = readPlaylist(m_options.playlist, error);
        if (!uris)
            return step("prepare", false, error);
        m_programme = Programme(*uris, m_options.loop);
    } else {
        m_programme = Programme({mediaUri(m_options.media)}, m_options.loop);
    }
    if (!m_playback.media().open(m_programme, m_pipelineClock, m_options.window, m_options.label, error))
        return step("prepare", false, error);
    const bool met = prepareSlaves();
    const QStringList behind = lagging({}, &NetControlNS::struAddress::isPrepared);
    return step("prepare", met,
                m_programme.uris().join(QLatin1Char(',')) +
                    (behind.isEmpty() ? QString() : QStringLiteral(" missing=") + behind.join(QLatin1Char(','))));
}

bool MasterPlayer::prepareSlaves(const QStringList& keys)
{
    SyncCommand sync;
    sync.kind = SyncCommand::Prepare;
    sync.programme = m_programme;
    if (!sendCommand(sync))
        return false;
    return waitFor([&] { return lagging(keys, &NetControlNS::struAddress::isPrepared).isEmpty(); }, kPrepareTimeoutMs);
}

bool MasterPlayer::bringIn(const QStringList& keys)
{
    m_joining = true;
    bool ok = synchroniseClocks(keys);
    ok = step("prepare", prepareSlaves(keys), QStringLiteral("again")) && ok;
    ok = putOnTimeline() && ok;
    m_rosterWatch.know(keys);
    m_joining = false;
    return step("join", ok, keys.join(QLatin1Char(',')));
}

bool MasterPlayer::putOnTimeline()
{
    const Timeline& now = m_playback.timeline();
    return now.playing ? command(SyncCommand::Start, -1) : command(SyncCommand::Seek, now.positionNs, false);
}

bool MasterPlayer::command(SyncCommand::Kind kind, qint64 positionNs, bool playOn, double rate)
{
    SyncCommand sync;
    sync.kind = kind;
    sync.playOn = playOn;
    sync.rate = rate;
    const qint64 atUs = m_clock.nowUs() + qint64(m_options.marginMs) * 1000;
    sync.atHostUs = double(atUs);
    const qint64 atClockNs = atUs * 1000;
    sync.play = m_playback.timeline().play;
    // A pause acts where the programme is at the instant, a speed change goes on from the frame after the
    // last one shown; a start without a position starts where the programme is; others act where they are told.
    if (kind == SyncCommand::Pause) {
        positionNs = m_playback.snapNs(m_playback.timeline().positionAt(atClockNs));
    } else if (kind == SyncCommand::Speed) {
        positionNs = m_playback.continuingPositionNs(atClockNs);
    } else if (kind == SyncCommand::Start && positionNs < 0) {
        const std::optional<ProgrammePoint> there = m_playback.media().pointAt(atClockNs);
        sync.play = there ? there->play : sync.play;
        positionNs = there ? there->positionNs : m_playback.timeline().positionAt(atClockNs);
    }
    sync.positionUs = positionNs / 1000;
    const bool sent = sendCommand(sync);
    QString error;
    const bool applied = m_playback.apply(sync, atClockNs, error);
    return step(SyncCommand::name(kind), sent && applied, error);
}

bool MasterPlayer::sendCommand(SyncCommand& sync)
{
    sync.run = QCoreApplication::applicationPid();
    sync.id = ++m_lastCommandId;
    const qint64 mono = HostClock::monotonicUs();
    const bool sent = sync.send(m_net->control());
    EventLine(QStringLiteral("sent"))
        .add(QStringLiteral("command"), SyncCommand::name(sync.kind))
        .add(QStringLiteral("cmd"), sync.id)
        .add(QStringLiteral("play"), sync.play)
        .add(QStringLiteral("position-us"), sync.positionUs)
        .add(QStringLiteral("mono-us"), mono)
        .add(QStringLiteral("result"), sent)
        .print();
    return sent;
}

bool MasterPlayer::playToEndAndComplete()
{
    MultiNetControl& control = m_net->control();
    const bool met = runEventLoopUntil([&] { return m_stopRequested || (m_ended && control.isAllSlaveComplete(kLayer)); },
                                       kCompleteTimeoutMs, kCompletePollMs);
    return step("complete", met && !m_stopRequested, m_ended ? QString() : QStringLiteral("the master did not reach the end"));
}

void MasterPlayer::hold(int ms)
{
    QElapsedTimer held;
    held.start();
    for (qint64 left = ms; left > 0 && !m_stopRequested; left = ms - held.elapsed()) {
        runEventLoopUntil([this] { return m_stopRequested || (!m_pendingKeys.isEmpty() && !m_joining); },
                          int(std::min<qint64>(left, kSearchEveryMs)), kPollMs);
        lookAfterRoster();
    }
}

bool MasterPlayer::waitFor(const std::function<bool()>& done, int timeoutMs)
{
    return runEventLoopUntil([&] { return m_stopRequested || done(); }, timeoutMs, kPollMs) && !m_stopRequested;
}

void MasterPlayer::lookAfterRoster()
{
    // Only once the programme has started: the readiness steps look after the slaves until then.
    if (m_joining || !m_started)
        return;
    MultiNetControl& control = m_net->control();
    if (!m_pendingKeys.isEmpty()) {
        QSet<QString> admitted = control.getAdmittedSlaves();
        for (const QString& key : m_pendingKeys)
            admitted.insert(key);
        m_pendingKeys.clear();
        control.setSlaves(admitted);
        m_sinceSearch.invalidate();
    }
    if (!m_sinceSearch.isValid() || m_sinceSearch.elapsed() >= kSearchEveryMs) {
        control.refreshSlavePlayers();
        m_sinceSearch.start();
    }
    const RosterWatch::Changes changes = m_rosterWatch.update(control.getSlavesPlayer(), m_clock.nowUs());
    for (const QString& key : changes.wentOff)
        EventLine(QStringLiteral("slave")).add(QStringLiteral("key"), key).add(QStringLiteral("on-line"), false).print();
    for (const QString& key : changes.cameBack)
        EventLine(QStringLiteral("slave")).add(QStringLiteral("key"), key).add(QStringLiteral("on-line"), true).print();
    if (!changes.fresh.isEmpty())
        bringIn(changes.fresh);
    else if (!changes.cameBack.isEmpty())
        putOnTimeline();  // what it missed meanwhile; a no-op for the others
}

QStringList MasterPlayer::lagging(const QStringList& keys, bool NetControlNS::struAddress::*met)
{
    QStringList behind;
    for (const NetControlNS::struAddress& entry : m_net->control().getSlavesPlayer()) {
        const QString key = RosterWatch::keyOf(entry);
        if ((keys.isEmpty() || keys.contains(key)) && !(entry.*met) && !behind.contains(key))
            behind.append(key);
    }
    return behind;
}

QStringList MasterPlayer::rosterKeys()
{
    QStringList keys;
    for (const NetControlNS::struAddress& entry : m_net->control().getSlavesPlayer()) {
        const QString key = RosterWatch::keyOf(entry);
        if (!keys.contains(key))
            keys.append(key);
    }
    return keys;
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

void MasterPlayer::requestStop()
{
    m_stopRequested = true;
}
