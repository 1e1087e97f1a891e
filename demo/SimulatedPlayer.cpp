// SPDX-License-Identifier: MIT
#include "SimulatedPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Values off the wire may be anything: positions saturate instead of overflowing, and NaN counts as 0.
qint64 saturatedUs(double us)
{
    constexpr double kLimit = 9.0e18;
    if (std::isnan(us))
        return 0;
    return static_cast<qint64>(std::clamp(us, -kLimit, kLimit));
}

} // namespace

SimulatedPlayer::SimulatedPlayer(const HostClock& clock, std::vector<int> layerIds)
    : m_clock(clock), m_layerIds(std::move(layerIds))
{
    for (int id : m_layerIds) {
        Layer layer;
        layer.id = id;
        m_layers.push_back(layer);
    }
}

qint64 SimulatedPlayer::positionOf(const Layer& layer, qint64 nowUs) const
{
    if (layer.state != State::Playing)
        return layer.anchorPositionUs;
    const double advanced = static_cast<double>(nowUs - layer.anchorClockUs) * layer.speed;
    return saturatedUs(static_cast<double>(layer.anchorPositionUs) + advanced);
}

void SimulatedPlayer::reanchor(Layer& layer, qint64 nowUs) const
{
    layer.anchorPositionUs = positionOf(layer, nowUs);
    layer.anchorClockUs = nowUs;
}

template <typename Change>
std::vector<int> SimulatedPlayer::apply(int layerId, Change change)
{
    const qint64 now = m_clock.nowUs();
    std::vector<int> changed;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Layer& layer : m_layers) {
        if (layerId != -1 && layerId != layer.id)
            continue;
        reanchor(layer, now);
        change(layer);
        changed.push_back(layer.id);
    }
    return changed;
}

std::vector<int> SimulatedPlayer::prepare()
{
    return apply(-1, [](Layer& layer) {
        layer.state = State::Prepared;
        layer.anchorPositionUs = 0;
    });
}

std::vector<int> SimulatedPlayer::start(int layerId, double fromSeconds, double speed)
{
    return apply(layerId, [&](Layer& layer) {
        layer.state = State::Playing;
        layer.anchorPositionUs = saturatedUs(fromSeconds * 1e6);
        layer.speed = speed;
    });
}

std::vector<int> SimulatedPlayer::pause(int layerId)
{
    return apply(layerId, [](Layer& layer) { layer.state = State::Paused; });
}

std::vector<int> SimulatedPlayer::stop(int layerId)
{
    return apply(layerId, [](Layer& layer) { layer.state = State::Stopped; });
}

std::vector<int> SimulatedPlayer::seek(int layerId, qint64 positionMs)
{
    return apply(layerId, [&](Layer& layer) { layer.anchorPositionUs = saturatedUs(static_cast<double>(positionMs) * 1000.0); });
}

std::vector<int> SimulatedPlayer::setSpeed(int layerId, double speed)
{
    return apply(layerId, [&](Layer& layer) { layer.speed = speed; });
}

std::vector<int> SimulatedPlayer::step(int layerId, int frames)
{
    return apply(layerId, [&](Layer& layer) {
        if (layer.state == State::Playing)
            layer.state = State::Paused;
        layer.anchorPositionUs = std::max<qint64>(0, saturatedUs(static_cast<double>(layer.anchorPositionUs) + static_cast<double>(frames * kFrameUs)));
    });
}

std::vector<SimulatedPlayer::LayerView> SimulatedPlayer::view() const
{
    const qint64 now = m_clock.nowUs();
    std::vector<LayerView> views;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Layer& layer : m_layers)
        views.push_back(LayerView{layer.id, layer.state, positionOf(layer, now), layer.speed});
    return views;
}

QString SimulatedPlayer::stateName(State state)
{
    switch (state) {
    case State::Idle:
        return QStringLiteral("idle");
    case State::Prepared:
        return QStringLiteral("prepared");
    case State::Playing:
        return QStringLiteral("playing");
    case State::Paused:
        return QStringLiteral("paused");
    case State::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}
