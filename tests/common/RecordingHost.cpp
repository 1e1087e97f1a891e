// SPDX-License-Identifier: MIT
#include "common/RecordingHost.h"

namespace {

HostCall makeCall(const char* name, int layerId, std::vector<double> values, char* userData, int userDataLen)
{
    HostCall call;
    call.name = QString::fromLatin1(name);
    call.layerId = layerId;
    call.values = std::move(values);
    call.userDataNull = userData == nullptr;
    if (userData)
        call.userData = QByteArray(userData, userDataLen);
    return call;
}

} // namespace

RecordingHost::RecordingHost(double clockDriftPpm) : m_clock(0, clockDriftPpm)
{
    m_cbk.startCbk = [this](int layer, double a, double b, char* d, int n) { record(makeCall("start", layer, {a, b}, d, n)); };
    m_cbk.speedCbk = [this](int layer, double a, char* d, int n) { record(makeCall("speed", layer, {a}, d, n)); };
    m_cbk.stepCbk = [this](int layer, char* d, int n) { record(makeCall("step", layer, {}, d, n)); };
    m_cbk.stepBackCbk = [this](int layer, char* d, int n) { record(makeCall("stepBack", layer, {}, d, n)); };
    m_cbk.pauseCbk = [this](int layer, double a, char* d, int n) { record(makeCall("pause", layer, {a}, d, n)); };
    m_cbk.prepareCbk = [this](char* d, int n) { record(makeCall("prepare", -1, {}, d, n)); };
    m_cbk.stopCbk = [this](int layer, double a, char* d, int n) { record(makeCall("stop", layer, {a}, d, n)); };
    m_cbk.seekCbk = [this](int layer, qint64 position, bool flag, double value, char* d, int n) {
        HostCall call = makeCall("seek", layer, {value}, d, n);
        call.position = position;
        call.flag = flag;
        record(std::move(call));
    };
    m_cbk.getLayerIdsCbk = [this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_layerIds;
    };
    m_cbk.clockOffsetCbk = [this](double seconds) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_offsets.push_back(seconds);
    };
    m_cbk.getClockTimeCbk = [this] { return now(); };
    m_cbk.masterLostCbk = [this](bool) { ++m_masterLost; };
}

std::vector<HostCall> RecordingHost::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int RecordingHost::callCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_calls.size());
}

std::vector<double> RecordingHost::clockOffsets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offsets;
}

void RecordingHost::setLayerIds(std::vector<int> ids)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_layerIds = std::move(ids);
}

qint64 RecordingHost::now() const
{
    const qint64 stopped = m_stoppedAt;
    return stopped >= 0 ? stopped : m_clock.nowUs();
}

void RecordingHost::record(HostCall call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(call));
}
