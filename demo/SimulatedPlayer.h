// SPDX-License-Identifier: MIT
// A player without pictures: per layer a playback position that advances with the speed while the
// layer plays, and that pauses, seeks and steps frame by frame. Positions are programme time in
// microseconds, measured against the host clock.
#pragma once

#include "HostClock.h"

#include <QString>

#include <mutex>
#include <vector>

class SimulatedPlayer
{
public:
    static constexpr qint64 kFrameUs = 40000;  // 25 frames per second

    enum class State { Idle, Prepared, Playing, Paused, Stopped };

    struct LayerView
    {
        int layerId = 0;
        State state = State::Idle;
        qint64 positionUs = 0;
        double speed = 1.0;
    };

    SimulatedPlayer(const HostClock& clock, std::vector<int> layerIds);

    const std::vector<int>& layerIds() const { return m_layerIds; }

    // Each applies to the layer `layerId`, or to every layer for -1, and returns the layers it changed
    // (none when this player has no such layer).
    std::vector<int> prepare();
    std::vector<int> start(int layerId, double fromSeconds, double speed);
    std::vector<int> pause(int layerId);
    std::vector<int> stop(int layerId);
    std::vector<int> seek(int layerId, qint64 positionMs);
    std::vector<int> setSpeed(int layerId, double speed);
    // Steps `frames` frames (negative: back); a playing layer pauses first, as players do.
    std::vector<int> step(int layerId, int frames);

    std::vector<LayerView> view() const;
    static QString stateName(State state);

private:
    struct Layer
    {
        int id = 0;
        State state = State::Idle;
        qint64 anchorPositionUs = 0;  // the position at anchorClockUs
        qint64 anchorClockUs = 0;
        double speed = 1.0;
    };

    qint64 positionOf(const Layer& layer, qint64 nowUs) const;
    // Moves the anchor to now, so that a change of state or speed keeps the position reached.
    void reanchor(Layer& layer, qint64 nowUs) const;
    template <typename Change>
    std::vector<int> apply(int layerId, Change change);

    const HostClock& m_clock;
    const std::vector<int> m_layerIds;
    mutable std::mutex m_mutex;
    std::vector<Layer> m_layers;  // guarded by m_mutex; the library's worker thread and the host's main thread
};
