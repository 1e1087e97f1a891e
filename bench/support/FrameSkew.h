// SPDX-License-Identifier: MIT
// The skew of a slave's frames against the master's, read from the players' frame logs (one frame a
// line: "<kind> <key> <mono-ns>", kind 'r' for a frame rendered at its time while playing). Every player
// of one machine stamps its frames on CLOCK_MONOTONIC, so a slave's frame minus the master's frame of the
// same key is how far apart the two screens showed it.
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

private:
    std::map<std::int64_t, std::int64_t> m_masterFrames;  // key -> shown, rendered frames only
};
