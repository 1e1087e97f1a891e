// SPDX-License-Identifier: MIT
// What the players' frame logs (FrameLog.h) say of a slave's frames against the master's. Every player of
// one machine stamps its frames on CLOCK_MONOTONIC, so the logs of different players compare directly.
#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class FrameSkew
{
public:
    // Reads the master's log; throws std::runtime_error when it cannot be read.
    explicit FrameSkew(const QString& masterLog);

    // Slave minus master (us, signed) for each frame of `slaveLog` rendered from `fromNs` to `toNs`
    // (monotonic) that the master rendered too. Throws std::runtime_error when the log cannot be read.
    std::vector<double> skewsUs(const QString& slaveLog, std::int64_t fromNs, std::int64_t toNs) const;

    // How late (us, signed) each of those frames was against the instant the master's time line gave it:
    // its time stamp on from the play's start, which is where the master's median frame of that play puts
    // it. Unlike the skew, a frame the master showed late does not count against the slave; the master's
    // median lateness (tens of us on a headless sink) is left out of every figure alike.
    std::vector<double> latenessUs(const QString& slaveLog, std::int64_t fromNs, std::int64_t toNs) const;

private:
    std::map<std::int64_t, std::int64_t> m_masterFrames;  // key -> shown, rendered frames only
    std::map<std::int64_t, std::int64_t> m_playStartNs;   // play -> monotonic time of its time stamp 0
};
