// SPDX-License-Identifier: MIT
#include "MasterPlayer.h"

#include "EventLine.h"
#include "HostStartup.h"
#include "PipelineClock.h"
#include "operator/MasterActions.h"
#include "operator/ProgrammeState.h"
#include "operator/ScreenTable.h"

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
// How often a wait asks for the slaves' readiness, which no event tells.
constexpr int kReadinessPollMs = 5;
// How often the master searches for slaves while it plays, keeping the roster.
constexpr int kSearchEveryMs = 1000;

QString keyOf(const NetControlNS::struAddress& entry)
{
    return QString::fromStdString(entry.ip) + QLatin1Char('_') + QString::number(entry.processId);
}

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
      m_input([this](const QString& line) { onInputLine(line); }, [] {}),
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
    control.setOptions(control.options() | NetControlNS::HealthReports);
    // Told on the library's threads; looked after on the main thread.
    control.setSlaveEventHandler([this](NetControlNS::SlaveEvent event, const NetControlNS::struAddress& slave) {
        if (event == NetControlNS::SlaveEvent::HealthChanged)
            return;  // read when asked for ("health")
        QMetaObject::invokeMethod(
            &m_mainContext, [this, event, key = keyOf(slave)] { takeSlaveEvent(event, key); }, Qt::QueuedConnection);
    });
    m_searchTimer.setInterval(kSearchEveryMs);
    QObject::connect(&m_searchTimer, &QTimer::timeout, [this] {
        if (!m_joining)
            m_admission.search(m_net->control(), m_clock.nowUs());
    });
    m_playback.media().setHandlers([this] { m_ended = true; }, printError);
    m_playback.media().setSound(m_options.sound);
    m_playback.setLateErrorHandler(printError);
    m_playback.setWaitConversion([this](qint64 ns) { return m_clock.toRealUs(ns / 1000) * 1000; });
    QString error;
    if (!m_log.streamTo(m_options.frameLog, error, printError))
        printError(error);
}

MasterPlayer::~MasterPlayer()
{
    m_net.reset();  // no event is told after this
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
    if (m_options.operatorPage) {
        QString error;
        m_operator = OperatorConsole::start(*m_options.operatorPage, [this] {
            const qint64 nowUs = m_clock.nowUs();
            MultiNetControl& net = m_net->control();
            return ShowStatus{programmeStatusOf(m_playback, nowUs * 1000, m_started),
                              screensOf(net.getSlavesHealth(), net.getAdmittedSlaves(), m_offLine, nowUs), {}, {},
                              m_lastStepWasTrim};
        }, actionsOf(*this, m_options.marginMs), error);
        if (!m_operator) {
            printError(error);
            return 1;
        }
    }
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
    const bool plain = m_options.loop || !m_options.playlist.isEmpty() || m_options.forSeconds > 0 || m_operator;
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
    m_searchTimer.start();
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
    m_searchTimer.start();
    bool ok = command(SyncCommand::Start, 0);
    QElapsedTimer playing;
    playing.start();
    const qint64 forMs = std::llround(m_options.forSeconds * 1000);
    while (!m_stopRequested && (m_operator || !m_ended)) {
        if (m_operator && m_ended) {  // a show stops at the end of its programme and waits for the operator
            ok = playToEndAndComplete() && stopProgramme() && ok;
            m_ended = false;
        }
        const qint64 left = forMs > 0 ? forMs - playing.elapsed() : qint64(kSearchEveryMs);
        if (left <= 0)
            break;
        hold(int(std::min<qint64>(left, kSearchEveryMs)));
    }
    if (m_ended)
        ok = playToEndAndComplete() && ok;
    if (m_playback.media().isOpen())  // a show the operator stopped has nothing left to stop
        ok = stopProgramme() && ok;
    hold(m_options.marginMs + 100);
    step("programme", ok, QStringLiteral("played=%1s").arg(double(playing.elapsed()) / 1000.0, 0, 'f', 1));
    return ok;
}

bool MasterPlayer::findSlaves()
{
    MultiNetControl& control = m_net->control();
    control.findSlavePlayer();
    // Searched again every second, keeping what was found, until every admitted slave has answered (a
    // search or an answer may be lost): each slave that joins the roster wakes the wait.
    auto missing = [&] {
        QStringList keys;
        const QStringList found = rosterKeys();
        for (const QString& key : control.getAdmittedSlaves()) {
            if (!found.contains(key))
                keys.append(key);
        }
        return keys + m_admission.missing(found);
    };
    QTimer search;
    search.setInterval(kSearchEveryMs);
    QObject::connect(&search, &QTimer::timeout, [&] { m_admission.search(control, m_clock.nowUs()); });
    search.start();
    const bool met = waitFor([&] { return missing().isEmpty(); }, kFindTimeoutMs);
    search.stop();
    for (const QString& key : rosterKeys())
        m_known.insert(key);
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
    const bool met = waitFor([&] { return notReady(NetControlNS::Readiness::ClockSynced, keys).isEmpty(); },
                             kClockSyncTimeoutMs, kReadinessPollMs);
    const QStringList behind = notReady(NetControlNS::Readiness::ClockSynced, keys);
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
    const QStringList behind = notReady(NetControlNS::Readiness::Prepared);
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
    return waitFor([&] { return notReady(NetControlNS::Readiness::Prepared, keys).isEmpty(); }, kPrepareTimeoutMs,
                   kReadinessPollMs);
}

bool MasterPlayer::bringIn(const QStringList& keys)
{
    m_joining = true;
    bool ok = synchroniseClocks(keys);
    ok = step("prepare", prepareSlaves(keys), QStringLiteral("again")) && ok;
    ok = putOnTimeline() && ok;
    m_joining = false;
    return step("join", ok, keys.join(QLatin1Char(',')));
}

bool MasterPlayer::putOnTimeline()
{
    const Timeline& now = m_playback.timeline();
    return now.playing ? command(SyncCommand::Start, -1) : command(SyncCommand::Seek, now.positionNs, false);
}

qint64 MasterPlayer::commandInstantUs() const
{
    return m_clock.nowUs() + qint64(m_options.marginMs) * 1000;
}

qint64 MasterPlayer::playAt(qint64 clockNs)
{
    // Items that ended on their own since the last command moved the programme past the time line's play.
    const std::optional<ProgrammePoint> there = m_playback.media().pointAt(clockNs);
    return there ? there->play : m_playback.timeline().play;
}

bool MasterPlayer::command(SyncCommand::Kind kind, qint64 positionNs, bool playOn, double rate, qint64 play)
{
    SyncCommand sync;
    sync.kind = kind;
    sync.playOn = playOn;
    sync.rate = rate;
    const qint64 atUs = commandInstantUs();
    sync.atHostUs = double(atUs);
    const qint64 atClockNs = atUs * 1000;
    sync.play = play >= 0 ? play : m_playback.timeline().play;
    // A pause acts where the programme is at the instant, a speed change goes on from the frame after the
    // last one shown; a start without a position starts where the programme is; others act where they are told.
    if (kind == SyncCommand::Pause) {
        // In the play the pipeline has reached by then, which may lie past the time line's item.
        const std::optional<ProgrammePoint> there = m_playback.media().pointAt(atClockNs);
        sync.play = there ? there->play : sync.play;
        positionNs = m_playback.snapNs(there ? there->positionNs : m_playback.timeline().positionAt(atClockNs));
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
    sync.run = m_run;
    sync.id = ++m_lastCommandId;
    const qint64 mono = HostClock::monotonicUs();
    const bool sent = sync.send(m_net->control());
    if (sync.kind == SyncCommand::Step || sync.kind == SyncCommand::Trim)
        m_lastStepWasTrim = sync.kind == SyncCommand::Trim;
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
    // Every slave on line has reported complete: a slave that went off line (the events say so) is passed
    // over, as isAllSlaveComplete does.
    auto allComplete = [this] {
        for (const QString& key : notReady(NetControlNS::Readiness::Complete)) {
            if (!m_offLine.contains(key))
                return false;
        }
        return true;
    };
    const bool met = waitFor([&] { return m_ended && allComplete(); }, kCompleteTimeoutMs, kReadinessPollMs);
    return step("complete", met && !m_stopRequested, m_ended ? QString() : QStringLiteral("the master did not reach the end"));
}

void MasterPlayer::hold(int ms)
{
    QElapsedTimer held;
    held.start();
    lookAfterRoster();
    for (qint64 left = ms; left > 0 && !m_stopRequested; left = ms - held.elapsed()) {
        waitFor([this] { return rosterNeedsCare(); }, int(left));
        lookAfterRoster();
    }
}

bool MasterPlayer::waitFor(const std::function<bool()>& done, int timeoutMs, int pollMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!m_stopRequested && !done()) {
        const qint64 left = timeoutMs - waited.elapsed();
        if (left <= 0)
            break;
        // One pass of the event loop: until a wake-up (an event, a line of input, a stop), the poll's tick
        // or the deadline; then `done` is asked again.
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(int(pollMs > 0 ? std::min<qint64>(left, pollMs) : left));
        QEventLoop* const outer = std::exchange(m_waiting, &loop);
        loop.exec();
        m_waiting = outer;
    }
    return !m_stopRequested && done();
}

void MasterPlayer::wake()
{
    if (m_waiting)
        m_waiting->quit();
}

void MasterPlayer::takeSlaveEvent(NetControlNS::SlaveEvent event, const QString& key)
{
    if (event == NetControlNS::SlaveEvent::WentOffLine)
        m_offLine.insert(key);
    else
        m_offLine.remove(key);
    m_slaveEvents.emplace_back(event, key);
    wake();
}

bool MasterPlayer::rosterNeedsCare() const
{
    return m_started && !m_joining && (!m_pendingKeys.isEmpty() || !m_slaveEvents.empty());
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
        control.refreshSlavePlayers();  // at once, and every second from here
        m_searchTimer.start();
    }
    // What happened since the last look, in order. A slave is new once (one that joined, or whose program
    // started again in an old one's place); off line and back again are told once each.
    QStringList fresh;
    bool cameBack = false;
    for (; !m_slaveEvents.empty(); m_slaveEvents.pop_front()) {
        const auto& [event, key] = m_slaveEvents.front();
        if (event == NetControlNS::SlaveEvent::Joined && !m_known.contains(key)) {
            m_known.insert(key);
            fresh.append(key);
        } else if (event == NetControlNS::SlaveEvent::WentOffLine && m_known.contains(key) && !m_toldOffLine.contains(key)) {
            m_toldOffLine.insert(key);
            EventLine(QStringLiteral("slave")).add(QStringLiteral("key"), key).add(QStringLiteral("on-line"), false).print();
        } else if (event == NetControlNS::SlaveEvent::CameBack && m_toldOffLine.remove(key)) {
            EventLine(QStringLiteral("slave")).add(QStringLiteral("key"), key).add(QStringLiteral("on-line"), true).print();
            cameBack = true;
        }
    }
    if (!fresh.isEmpty())
        bringIn(fresh);
    else if (cameBack)
        putOnTimeline();  // what it missed meanwhile; a no-op for the others
}

QStringList MasterPlayer::notReady(NetControlNS::Readiness what, const QStringList& keys)
{
    QStringList behind;
    for (const NetControlNS::struAddress& entry : m_net->control().getSlavesNotReady(what, kLayer)) {
        const QString key = keyOf(entry);
        if ((keys.isEmpty() || keys.contains(key)) && !behind.contains(key))
            behind.append(key);
    }
    return behind;
}

QStringList MasterPlayer::rosterKeys()
{
    QStringList keys;
    for (const NetControlNS::struAddress& entry : m_net->control().getSlavesPlayer()) {
        const QString key = keyOf(entry);
        if (!keys.contains(key))
            keys.append(key);
    }
    return keys;
}

bool MasterPlayer::play()
{
    if (!m_playback.media().isOpen())  // stopped: every player opens the programme again
        return prepare() && command(SyncCommand::Start, 0);
    const Timeline& now = m_playback.timeline();
    if (now.playing)
        return true;
    return command(SyncCommand::Start, now.positionNs);
}

bool MasterPlayer::stopProgramme()
{
    return command(SyncCommand::Stop);
}

bool MasterPlayer::pause()
{
    return command(SyncCommand::Pause);
}

bool MasterPlayer::seek(qint64 positionNs)
{
    return command(SyncCommand::Seek, m_playback.snapNs(std::max<qint64>(0, positionNs)), m_playback.timeline().playing,
                   1.0, playAt(commandInstantUs() * 1000));
}

bool MasterPlayer::nextItem()
{
    const qint64 next = playAt(commandInstantUs() * 1000) + 1;
    if (m_programme.uriOfPlay(next).isEmpty()) {
        printError(QStringLiteral("next: the programme has no item after this one"));
        return false;
    }
    return command(SyncCommand::Seek, 0, m_playback.timeline().playing, 1.0, next);
}

bool MasterPlayer::setTrim(const QString& key, int ms)
{
    if (const QString refusal = trimRefusal(ms, m_options.marginMs); !refusal.isEmpty()) {
        printError(QStringLiteral("trim %1 ms for %2 refused: %3").arg(ms).arg(key, refusal));
        return false;
    }
    if (!rosterKeys().contains(key)) {
        printError(QStringLiteral("trim for %1 refused: the roster holds no such slave (IP_PID)").arg(key));
        return false;
    }
    SyncCommand sync;
    sync.kind = SyncCommand::Trim;
    sync.target = key;
    sync.trimUs = qint64(ms) * 1000;
    return sendCommand(sync);
}

void MasterPlayer::onInputLine(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = words.value(0);
    bool ok = false;
    if (words.size() == 2 && verb == QLatin1String("admit")) {
        m_pendingKeys.append(words[1]);
        wake();
    } else if (words.size() == 1 && verb == QLatin1String("quit")) {
        requestStop();
    } else if (words.size() == 1 && verb == QLatin1String("health")) {
        printHealth();
    } else if (words.size() == 1 && verb == QLatin1String("play")) {
        play();
    } else if (words.size() == 1 && verb == QLatin1String("pause")) {
        pause();
    } else if (words.size() == 1 && verb == QLatin1String("next")) {
        nextItem();
    } else if (const double seconds = words.value(1).toDouble(&ok); words.size() == 2 && verb == QLatin1String("seek") && ok) {
        seek(std::llround(seconds * 1e9));
    } else if (const int ms = words.value(2).toInt(&ok); words.size() == 3 && verb == QLatin1String("trim") && ok) {
        setTrim(words[1], ms);
    } else if (!words.isEmpty()) {
        printOutputLine(QStringLiteral("multinet-player master: ignored '%1' (input takes: admit IP_PID, quit, health, play, "
                                       "pause, seek SECONDS, next, trim IP_PID MS)")
                            .arg(line));
    }
}

void MasterPlayer::printHealth()
{
    for (const NetControlNS::struSlaveHealth& health : m_net->control().getSlavesHealth()) {
        EventLine line(QStringLiteral("health"));
        line.add(QStringLiteral("key"), keyOf(health.slave)).add(QStringLiteral("known"), health.known);
        if (health.known) {
            line.add(QStringLiteral("offset-us"), health.offsetUs, 1).add(QStringLiteral("rate-ppm"), health.ratePpm, 2);
            line.add(QStringLiteral("age-ms"), (m_clock.nowUs() - health.receivedAtUs) / 1000);
            if (health.presentationKnown) {
                const NetControlNS::struPresentation& shown = health.presentation;
                line.add(QStringLiteral("late-p50-us"), shown.lateP50Us)
                    .add(QStringLiteral("late-p99-us"), shown.lateP99Us)
                    .add(QStringLiteral("shown"), qint64(shown.framesShown))
                    .add(QStringLiteral("dropped"), qint64(shown.framesDropped));
            }
            line.add(QStringLiteral("text"), QString::fromStdString(health.text));
        }
        line.print();
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

void MasterPlayer::requestStop()
{
    m_stopRequested = true;
    wake();
}
