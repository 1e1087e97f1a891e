// SPDX-License-Identifier: MIT
#include "support/DecodingLoad.h"

#include "support/BenchClock.h"
#include "support/PlayerBinary.h"
#include "support/PortPicker.h"

#include <QProcess>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

// Measured on the benchmark machine (2 cores, otherwise quiet): a master and 9 slaves decoding this clip
// in real time took 70-97% of both cores at normal speed (15-19% of a core each), less while the
// session paused, all of it at double speed; 82% over a whole session of a 30 s clip, set-up included,
// and 78% over the clock scenario's 21 s. With 6 slaves the players took only 55-68% at normal speed.
constexpr char kClipSize[] = "1920x1080";
constexpr int kMakeClipTimeoutMs = 120000;
// A session finds its slaves, synchronises their clocks and prepares the clip before the players
// decode: about 1.8 s on the benchmark machine.
constexpr int kSetUpMs = 2500;
constexpr auto kCheckEvery = std::chrono::milliseconds(200);

} // namespace

QString DecodingLoad::makeClip(const QString& dir, int seconds)
{
    const QString clip = dir + QStringLiteral("/decoding-load.avi");
    QProcess make;
    make.setProcessChannelMode(QProcess::ForwardedChannels);
    make.start(playerPath(), {QStringLiteral("make-clip"), clip, QStringLiteral("--size"), QLatin1String(kClipSize),
                              QStringLiteral("--seconds"), QString::number(seconds)});
    if (!make.waitForFinished(kMakeClipTimeoutMs) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        throw std::runtime_error("multinet-player make-clip could not make the decoding load's clip");
    return clip;
}

DecodingLoad::DecodingLoad(const QString& clip, const QString& workDir) : m_clip(clip), m_workDir(workDir)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        startSession();
    }
    m_keeper = std::thread([this] { keepPlaying(); });
    sleepForMs(kSetUpMs);
}

DecodingLoad::~DecodingLoad()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    m_keeper.join();
    m_session.reset();
}

std::int64_t DecodingLoad::cpuUs()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_endedCpuUs + (m_session ? m_session->runningCpuUs() : 0);
}

void DecodingLoad::startSession()
{
    // The bound is not judged: the session is only a load.
    m_session = std::make_unique<PlayerSession>(
        playerPath().toStdString(),
        std::vector<std::string>{"run", "--slaves", std::to_string(kSlaves), "--clip", m_clip.toStdString(), "--bound-us",
                                 "10000000", "--work-dir", m_workDir.toStdString(), "--port",
                                 std::to_string(pickFreeGroupPort())},
        (m_workDir + QStringLiteral("/sessions.log")).toStdString());
}

void DecodingLoad::keepPlaying()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopped.wait_for(lock, kCheckEvery, [this] { return m_stop; })) {
        const std::optional<std::int64_t> ended = m_session->endedCpuUs();
        if (!ended)
            continue;
        m_endedCpuUs += *ended;
        std::fprintf(stderr, "bench: the decoding load's session ended; it starts another\n");
        try {
            startSession();
        } catch (const std::exception& e) {
            // The load ends here; the CPU it took shows it in the table.
            std::fprintf(stderr, "bench: the decoding load stops: %s\n", e.what());
            m_session.reset();
            return;
        }
    }
}
