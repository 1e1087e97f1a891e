// SPDX-License-Identifier: MIT
#include "PlayerRun.h"

#include "EventLine.h"
#include "HostProcess.h"
#include "LoopbackPlan.h"
#include "PlayerProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdlib>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {

constexpr int kReadyTimeoutMs = 15000;
constexpr int kSessionTimeoutMs = 120000;
constexpr int kExitTimeoutMs = 10000;
constexpr qint64 kOffsetToleranceUs = 1000;
constexpr qint64 kBinNs = 10000000000;

const char* modeName(int mode)
{
    static const char* const kNames[] = {"library", "control", "gstreamer-net"};
    return kNames[mode];
}

const char* modeTitle(int mode)
{
    static const char* const kTitles[] = {"library's clock offset", "control run: slaves ignore the clock offset",
                                          "GStreamer network clock (anchor)"};
    return kTitles[mode];
}

std::optional<qint64> lastOffset(const HostProcess& child)
{
    std::optional<qint64> found;
    for (const EventLine& e : child.events()) {
        if (e.event() == QLatin1String("clock-offset"))
            found = e.integer(QStringLiteral("us"));
    }
    return found;
}

bool showedInRealtime(const HostProcess& child)
{
    for (const EventLine& e : child.events()) {
        if (e.event() == QLatin1String("frames"))
            return e.integer(QStringLiteral("realtime")) == 1;
    }
    return false;
}

int countEvents(const HostProcess& child, const char* event)
{
    int count = 0;
    for (const EventLine& e : child.events())
        count += e.event() == QLatin1String(event) ? 1 : 0;
    return count;
}

} // namespace

PlayerRun::PlayerRun(PlayerRunOptions options) : m_options(std::move(options)), m_player(PlayerProgram::path()) {}

double PlayerRun::driftOf(int slave) const
{
    return m_options.driftPpm.empty() ? 0.0 : m_options.driftPpm[std::size_t(slave) % m_options.driftPpm.size()];
}

bool PlayerRun::prefixDrifts() const
{
    return std::any_of(m_options.slavePrefix.begin(), m_options.slavePrefix.end(), [](const QString& word) {
        return word.contains(QLatin1String("{ppm}")) || word.contains(QLatin1String("{rate}"));
    });
}

std::unique_ptr<HostProcess> PlayerRun::makeSlave(int slave, const QStringList& arguments) const
{
    const QString name = QStringLiteral("slave %1").arg(loopbackSlaveIp(slave));
    if (m_options.slavePrefix.isEmpty())
        return std::make_unique<HostProcess>(name, arguments, m_options.verbose, m_player);
    QStringList prefix;
    for (QString word : m_options.slavePrefix)
        prefix.append(word.replace(QLatin1String("{ppm}"), QString::number(driftOf(slave)))
                          .replace(QLatin1String("{rate}"), QString::number(1.0 + driftOf(slave) * 1e-6, 'f', 9)));
    QString program = prefix.takeFirst();
    // A bare name is looked for beside this program first (multinet-timewarp is built there), then on PATH.
    const QString besideThis = QCoreApplication::applicationDirPath() + QLatin1Char('/') + program;
    if (!program.contains(QLatin1Char('/')) && QFileInfo(besideThis).isExecutable())
        program = besideThis;
    return std::make_unique<HostProcess>(name, prefix + QStringList{m_player} + arguments, m_options.verbose, program);
}

int PlayerRun::exec()
{
    if (QString error; !PlayerProgram::found(error)) {
        printOutputLine(QStringLiteral("error: ") + error);
        return 1;
    }
    if (!prepareWorkDir())
        return 1;
    warmUp();
    std::vector<Mode> modes{m_options.control ? Mode::Control : Mode::Library};
    if (m_options.netClockOnly)
        modes = {Mode::GstNet};
    else if (m_options.anchor)
        modes.push_back(Mode::GstNet);
    std::vector<std::pair<Mode, SessionReport>> reports;
    QStringList shortfalls;
    for (Mode mode : modes) {
        printOutputLine(QStringLiteral("multinet-lab run: a master on %1 and %2 slaves on %3 to %4, loopback only; "
                                       "frames placed by the %5")
                            .arg(QLatin1String(kLoopbackMasterIp))
                            .arg(m_options.slaves)
                            .arg(loopbackSlaveIp(0), loopbackSlaveIp(m_options.slaves - 1))
                            .arg(QLatin1String(modeTitle(int(mode)))));
        std::optional<SessionReport> report = playSession(mode);
        if (!report) {
            shortfalls.append(QStringLiteral("the %1 session did not run").arg(QLatin1String(modeName(int(mode)))));
            continue;
        }
        printOutputLine(QString());
        for (const QString& line : report->tableLines())
            printOutputLine(line);
        printOutputLine(QString());
        verdict(*report, mode, shortfalls);
        reports.emplace_back(mode, std::move(*report));
    }
    if (reports.size() == 2) {
        const SkewFigures& ours = reports[0].second.pooled;
        const SkewFigures& anchor = reports[1].second.pooled;
        printOutputLine(QStringLiteral("Library clock against GStreamer's network clock: p99 %1 us against %2 us, max %3 us against %4 us.")
                            .arg(ours.p99Us)
                            .arg(anchor.p99Us)
                            .arg(ours.maxUs)
                            .arg(anchor.maxUs));
    }
    writeJson(reports);
    if (!shortfalls.isEmpty()) {
        printOutputLine(QStringLiteral("FAILED: ") + shortfalls.join(QStringLiteral("; ")) + QLatin1Char('.'));
        return 1;
    }
    if (m_options.netClockOnly) {
        printOutputLine(QStringLiteral("OK: every wait was met."));
        return 0;
    }
    // Offsets are compared only on steady clocks that no prefix command moves (see verdict()).
    bool offsetsCompared = false;
    for (int i = 0; i < m_options.slaves; ++i)
        offsetsCompared = offsetsCompared || (driftOf(i) == 0 && m_options.slavePrefix.isEmpty());
    printOutputLine(m_options.control
                        ? QStringLiteral("OK: every wait was met, and with the offsets ignored every slave's skew came out "
                                         "at its injected offset within %1 us.")
                              .arg(kOffsetToleranceUs)
                        : QStringLiteral("OK: every wait was met, %1the skew p99 stayed within the bound of %2 us and the "
                                         "machine's wake-up noise of %3 us.")
                              .arg(offsetsCompared ? QStringLiteral("every clock offset was found within %1 us, and ")
                                                         .arg(kOffsetToleranceUs)
                                                   : QString())
                              .arg(m_options.boundUs)
                              .arg(reports.front().second.wakeNoiseUs));
    return 0;
}

void PlayerRun::warmUp() const
{
    // Every player of a run starts at once and shows its first frames together: what the first of them
    // would fetch from disk, or what the disk would be busy with, is done here once before they start.
    // - GStreamer's plugin registry is brought up to date by the first slave, which starts alone (a second
    //   or two on a fresh machine); the decoders are loaded while the players prepare, before any frame
    //   is due.
    // - The clip is read through once into the page cache (a clip made here is there already).
    // - Writes still pending (the clip just made here; a build or a package installation just before)
    //   are written out now: otherwise the kernel writes them while frames are due, every 5 s the pages
    //   older than 30 s.
    // A few tens of milliseconds on a warm machine.
    QElapsedTimer timer;
    timer.start();
    if (m_options.playlist.isEmpty()) {
        constexpr qint64 kChunkBytes = 1 << 20;
        QFile clip(m_clip);
        if (clip.open(QIODevice::ReadOnly)) {
            while (!clip.read(kChunkBytes).isEmpty()) {
            }
        } else {
            printOutputLine(QStringLiteral("warning: the clip was not read in before the players started: %1").arg(clip.errorString()));
        }
    }
#ifdef Q_OS_LINUX
    ::sync();
#endif
    if (m_options.verbose)
        printOutputLine(QStringLiteral("Read in the clip, and wrote out pending writes, in %1 ms").arg(timer.elapsed()));
}

bool PlayerRun::prepareWorkDir()
{
    if (m_options.workDir.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/multinet-lab-XXXXXX"));
        if (!m_tempDir->isValid()) {
            printOutputLine(QStringLiteral("error: cannot make a temporary directory"));
            return false;
        }
        m_workDir = m_tempDir->path();
    } else {
        m_workDir = m_options.workDir;
        if (!QDir().mkpath(m_workDir)) {
            printOutputLine(QStringLiteral("error: cannot make %1").arg(m_workDir));
            return false;
        }
    }
    m_clip = m_options.clip.isEmpty() ? m_workDir + QStringLiteral("/test-clip-%1s.avi").arg(m_options.clipSeconds) : m_options.clip;
    if (QFileInfo::exists(m_clip))
        return true;
    if (!m_options.clip.isEmpty()) {
        printOutputLine(QStringLiteral("error: no clip at %1").arg(m_clip));
        return false;
    }
    printOutputLine(QStringLiteral("Making a %1 s test clip with the frame number on each frame: %2").arg(m_options.clipSeconds).arg(m_clip));
    QString error;
    if (!PlayerProgram::makeClip(m_clip, m_options.clipSeconds, error)) {
        printOutputLine(QStringLiteral("error: ") + error);
        return false;
    }
    return true;
}

std::optional<SessionReport> PlayerRun::playSession(Mode mode)
{
    const quint16 port = m_options.port ? m_options.port : pickFreePort();
    const QString netClockPort = QString::number(pickFreePort());
    const QString tag = QLatin1String(modeName(int(mode)));
    auto common = [&](const QString& ip, const QString& log, const QString& label) {
        QStringList args{QStringLiteral("--ip"), ip, QStringLiteral("--port"), QString::number(port), QStringLiteral("--group"),
                         QString::number(m_options.group), QStringLiteral("--frame-log"), log, QStringLiteral("--label"), label};
        args.append(m_options.window ? QStringLiteral("--window") : QStringLiteral("--headless"));
        if (mode == Mode::GstNet)
            args << QStringLiteral("--net-clock") << netClockPort;
        return args;
    };

    std::vector<std::unique_ptr<HostProcess>> slaves;
    QStringList keys;
    for (int i = 0; i < m_options.slaves; ++i) {
        QStringList args = QStringList{QStringLiteral("slave")} +
                           common(loopbackSlaveIp(i), m_workDir + QStringLiteral("/%1-slave%2.frames").arg(tag).arg(i + 1),
                                  QStringLiteral("slave %1").arg(i + 1));
        args << QStringLiteral("--master") << QLatin1String(kLoopbackMasterIp) << QStringLiteral("--clock-offset-us")
             << QString::number(injectedOffsetUs(i));
        if (mode == Mode::Control)
            args.append(QStringLiteral("--ignore-offset"));
        if (!m_options.rateCorrection)
            args.append(QStringLiteral("--no-rate-correction"));
        // A prefix that drifts the whole process stands for the simulated drift.
        if (const double drift = driftOf(i); drift != 0 && !prefixDrifts())
            args << QStringLiteral("--drift-ppm") << QString::number(drift);
        slaves.push_back(makeSlave(i, args));
        if (!slaves.back()->start(kReadyTimeoutMs)) {
            printOutputLine(QStringLiteral("error: %1 did not start:\n%2").arg(slaves.back()->name(), slaves.back()->recentOutput()));
            return std::nullopt;
        }
        // The player's own process id, which a prefix command may not share.
        keys.append(loopbackSlaveIp(i) + QLatin1Char('_') + QString::number(slaves.back()->readyLine().integer(QStringLiteral("pid"))));
    }
    const QString masterLog = m_workDir + QStringLiteral("/%1-master.frames").arg(tag);
    QStringList masterArgs = QStringList{QStringLiteral("master")} + common(QLatin1String(kLoopbackMasterIp), masterLog, QStringLiteral("master"));
    masterArgs << QStringLiteral("--slaves") << keys.join(QLatin1Char(','))
               << QStringLiteral("--margin-ms") << QString::number(m_options.marginMs)
               << QStringLiteral("--pause-ms") << QString::number(m_options.pauseMs);
    masterArgs << (m_options.playlist.isEmpty() ? QStringList{QStringLiteral("--media"), m_clip}
                                                : QStringList{QStringLiteral("--playlist"), m_options.playlist});
    if (m_options.loop)
        masterArgs.append(QStringLiteral("--loop"));
    if (m_options.forSeconds > 0)
        masterArgs << QStringLiteral("--for") << QString::number(m_options.forSeconds);
    HostProcess master(QStringLiteral("master %1").arg(QLatin1String(kLoopbackMasterIp)), masterArgs, m_options.verbose, m_player);
    if (!master.start(kReadyTimeoutMs)) {
        printOutputLine(QStringLiteral("error: the master did not start:\n%1").arg(master.recentOutput()));
        return std::nullopt;
    }
    const int sessionTimeoutMs = kSessionTimeoutMs + int(m_options.forSeconds * 1000);
    const int finished = master.waitForEvent([](const EventLine& e) { return e.event() == QLatin1String("finished"); },
                                             sessionTimeoutMs);
    bool waitsMet = finished >= 0 && master.events()[std::size_t(finished)].integer(QStringLiteral("ok")) == 1;
    for (const EventLine& e : master.events()) {
        if (e.event() == QLatin1String("session"))
            printOutputLine(QStringLiteral("  %1 %2%3")
                                .arg(e.value(QStringLiteral("step")), -10)
                                .arg(e.integer(QStringLiteral("met")) == 1 ? QStringLiteral("ok") : QStringLiteral("NOT MET"))
                                .arg(e.has(QStringLiteral("detail")) ? QStringLiteral("  ") + e.value(QStringLiteral("detail")) : QString()));
    }
    waitsMet = master.finish(kExitTimeoutMs) && waitsMet;
    for (const auto& slave : slaves) {
        const bool clean = slave->finish(kExitTimeoutMs);
        if (!clean)
            printOutputLine(QStringLiteral("%1 did not end cleanly:\n%2").arg(slave->name(), slave->recentOutput()));
        // A programme that loops, or is stopped after a while, ends without reaching its end.
        const bool completes = !m_options.loop && m_options.forSeconds <= 0;
        waitsMet = clean && (!completes || countEvents(*slave, "complete") >= 1) && waitsMet;
    }

    SessionReport report;
    report.title = QLatin1String(modeTitle(int(mode)));
    report.mode = tag;
    report.waitsMet = waitsMet;
    QString error;
    const std::vector<ShownFrame> masterFrames = FrameLog::read(masterLog, error);
    std::vector<std::vector<ShownFrame>> everyone{masterFrames};
    report.rows.push_back(PlayerRow{QStringLiteral("master 127.0.0.1"), countEvents(master, "sent"), std::nullopt,
                                    std::nullopt, 0.0, std::nullopt, 1.0, int(masterFrames.size()), showedInRealtime(master)});
    std::vector<qint64> pooled;
    for (int i = 0; i < m_options.slaves; ++i) {
        const std::vector<ShownFrame> frames =
            FrameLog::read(m_workDir + QStringLiteral("/%1-slave%2.frames").arg(tag).arg(i + 1), error);
        const SkewFigures skew = SkewStats::compare(masterFrames, frames);
        pooled.insert(pooled.end(), skew.magnitudesUs.begin(), skew.magnitudesUs.end());
        report.rows.push_back(PlayerRow{QStringLiteral("slave %1").arg(loopbackSlaveIp(i)), countEvents(*slaves[std::size_t(i)], "received"),
                                        injectedOffsetUs(i), lastOffset(*slaves[std::size_t(i)]), driftOf(i), skew,
                                        SkewStats::sameFrameShare({masterFrames, frames}), int(frames.size()),
                                        showedInRealtime(*slaves[std::size_t(i)])});
        everyone.push_back(frames);
    }
    if (!error.isEmpty())
        printOutputLine(QStringLiteral("error: ") + error);
    report.pooled.matched = int(pooled.size());
    report.pooled.p50Us = SkewStats::percentile(pooled, 0.5);
    report.pooled.p99Us = SkewStats::percentile(pooled, 0.99);
    report.pooled.maxUs = SkewStats::percentile(pooled, 1.0);
    report.allSameShare = SkewStats::sameFrameShare(everyone);
    for (const std::vector<ShownFrame>& frames : everyone)
        report.wakeNoiseUs = std::max(report.wakeNoiseUs, SkewStats::wakeNoiseP99Us(frames));
    if (m_options.forSeconds > 0 || m_options.loop) {
        report.bins = SkewStats::bins(everyone, kBinNs);
        const std::vector<qint64> spacing = SkewStats::masterSpacingUs(masterFrames);
        report.masterSpacing.matched = int(spacing.size());
        report.masterSpacing.p50Us = SkewStats::percentile(spacing, 0.5);
        report.masterSpacing.p99Us = SkewStats::percentile(spacing, 0.99);
        report.masterSpacing.maxUs = SkewStats::percentile(spacing, 1.0);
        report.loops = SkewStats::loopPoints(everyone);
    }
    return report;
}

bool PlayerRun::verdict(const SessionReport& report, Mode mode, QStringList& shortfalls) const
{
    const QString name = QLatin1String(modeName(int(mode)));
    const int before = shortfalls.size();
    if (!report.waitsMet)
        shortfalls.append(QStringLiteral("%1 session: a wait was not met").arg(name));
    for (const PlayerRow& row : report.rows) {
        if (row.frames == 0)
            shortfalls.append(QStringLiteral("%1 session: %2 showed no frame").arg(name, row.name));
        if (!row.injectedUs || !row.skew)
            continue;
        // A clock that drifts moves its offset: only a steady one is compared with what was injected (and
        // only without a prefix command, which may move the clock too).
        if (mode != Mode::GstNet && row.driftPpm == 0 && m_options.slavePrefix.isEmpty() &&
            (!row.foundUs || std::llabs(*row.foundUs - *row.injectedUs) > kOffsetToleranceUs))
            shortfalls.append(QStringLiteral("%1 session: %2 did not find its clock offset").arg(name, row.name));
        // Ignoring its offset, a slave whose clock is ahead shows each frame that much early.
        if (mode == Mode::Control && std::llabs(row.skew->signedMedianUs + *row.injectedUs) > kOffsetToleranceUs)
            shortfalls.append(QStringLiteral("control session: %1's skew %2 us does not show its injected offset %3 us")
                                  .arg(row.name)
                                  .arg(row.skew->signedMedianUs)
                                  .arg(*row.injectedUs));
        // The median, which a stall of the machine leaves alone, catches such a slave on a busy machine too.
        if (mode == Mode::Library && std::llabs(row.skew->signedMedianUs) > kOffsetToleranceUs)
            shortfalls.append(QStringLiteral("%1's median skew %2 us is beyond %3 us").arg(row.name).arg(row.skew->signedMedianUs).arg(kOffsetToleranceUs));
    }
    // A frame that a stall of the machine makes late is late in the skew too: the bound takes in the
    // machine's wake-up noise, as the players' own frames show it in this run (the worst player's). A
    // slave whose clock wanders still fails: it moves its frames slowly, which its spacing hardly shows.
    if (mode == Mode::Library && report.pooled.p99Us > m_options.boundUs + report.wakeNoiseUs)
        shortfalls.append(QStringLiteral("skew p99 %1 us is beyond the bound of %2 us and the machine's wake-up noise of %3 us")
                              .arg(report.pooled.p99Us)
                              .arg(m_options.boundUs)
                              .arg(report.wakeNoiseUs));
    if (mode == Mode::Library && m_options.medianBoundUs > 0) {
        // A bin that holds less than half of the fullest one's frames (the run's last moments) has too
        // few frames for its median to say anything.
        int fullest = 0;
        for (const SkewBin& bin : report.bins)
            fullest = std::max(fullest, bin.matched);
        for (const SkewBin& bin : report.bins) {
            if (bin.matched * 2 >= fullest && std::llabs(bin.worstSignedMedianUs) > m_options.medianBoundUs) {
                shortfalls.append(QStringLiteral("a slave's median skew was %1 us in the 10 s from %2 s, beyond the bound of %3 us")
                                      .arg(bin.worstSignedMedianUs)
                                      .arg(bin.startNs / 1000000000)
                                      .arg(m_options.medianBoundUs));
                break;
            }
        }
    }
    return shortfalls.size() == before;
}

void PlayerRun::writeJson(const std::vector<std::pair<Mode, SessionReport>>& reports) const
{
    if (m_options.json.isEmpty() || reports.empty())
        return;
    QJsonObject root = reports.front().second.toJson();
    QJsonArray sessions;
    for (const auto& [mode, report] : reports)
        sessions.append(report.toJson());
    root.insert(QStringLiteral("sessions"), sessions);
    QFile file(m_options.json);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(QJsonDocument(root).toJson()) < 0)
        printOutputLine(QStringLiteral("error: cannot write %1: %2").arg(m_options.json, file.errorString()));
}
