// SPDX-License-Identifier: MIT
// The load of a machine whose players decode video: `multinet-player run` sessions (a master and
// kSlaves slaves on loopback, on their own group port) playing a large Motion JPEG clip, one after the
// other for as long as the object lives. The players use most of both cores of the benchmark machine.
#pragma once

#include "support/CpuLoad.h"
#include "support/PlayerSession.h"

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class DecodingLoad : public CpuLoad
{
public:
    static constexpr int kSlaves = 9;

    // Makes the clip that the sessions play, `seconds` long, in `dir`; throws std::runtime_error when the
    // player cannot. Its path.
    static QString makeClip(const QString& dir, int seconds);

    // Starts the first session, in `workDir`, and returns once its players have had the time to set up
    // and decode; throws std::runtime_error when it cannot start.
    DecodingLoad(const QString& clip, const QString& workDir);
    // Stops the session that runs.
    ~DecodingLoad() override;

    DecodingLoad(const DecodingLoad&) = delete;
    DecodingLoad& operator=(const DecodingLoad&) = delete;

    std::int64_t cpuUs() override;

private:
    void startSession();
    // Starts the next session whenever one ends, until the destructor asks it to stop.
    void keepPlaying();

    const QString m_clip;
    const QString m_workDir;
    std::mutex m_mutex;  // guards the members below, shared by keepPlaying's thread and the caller's
    std::unique_ptr<PlayerSession> m_session;
    std::int64_t m_endedCpuUs = 0;  // of the sessions that have ended
    bool m_stop = false;
    std::condition_variable m_stopped;
    std::thread m_keeper;
};
