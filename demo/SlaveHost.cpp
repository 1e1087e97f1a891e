// SPDX-License-Identifier: MIT
#include "SlaveHost.h"

#include "HostStartup.h"
#include "KeyedGroup.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

// User data shown as text when it is a short printable word, else by its length.
QString describeUserData(const char* data, int len)
{
    constexpr int kLongestShown = 64;
    if (!data || len <= 0)
        return QStringLiteral("none");
    bool printable = len <= kLongestShown;
    for (int i = 0; printable && i < len; ++i)
        printable = data[i] > ' ' && data[i] < 127;
    if (printable)
        return QString::fromLatin1(data, len);
    return QStringLiteral("%1-bytes").arg(len);
}

QString joinNumbers(const std::vector<int>& numbers)
{
    QStringList parts;
    for (int n : numbers)
        parts.append(QString::number(n));
    return parts.join(QLatin1Char(','));
}

} // namespace

SlaveHost::SlaveHost(SlaveOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs),
      m_player(m_clock, m_options.layers),
      m_callbacks(makeCallbacks()),
      m_control(&m_callbacks, m_options.group, m_options.ip.toStdString(), m_options.port),
      m_input([this](const QString& line) { handleInput(line); },
              [this] {
                  // Started by `run`: its end closes this input, and nobody is left to say "quit".
                  if (m_options.parentPid)
                      QCoreApplication::quit();
              })
{
    m_keys = keepKeys(m_options.keys, m_control, QStringLiteral("multinet-demo slave"));
    m_control.setSlaveFlag(true);
    m_control.setMasterIp(m_options.masterIp.toStdString());
}

int SlaveHost::exec()
{
    if (!listeningOrSayWhy(m_control.isListening(), m_control.errorString(), QStringLiteral("multinet-demo slave")))
        return 1;
    if (m_options.parentPid && !endWithParent(m_options.parentPid))
        return 1;
    const QString key = m_options.ip + QLatin1Char('_') + QString::number(QCoreApplication::applicationPid());
    EventLine(QStringLiteral("ready"))
        .add(QStringLiteral("role"), "slave")
        .add(QStringLiteral("ip"), m_options.ip)
        .add(QStringLiteral("port"), int(m_options.port))
        .add(QStringLiteral("group"), m_options.group)
        .add(QStringLiteral("master"), m_options.masterIp)
        .add(QStringLiteral("layers"), joinNumbers(m_options.layers))
        .add(QStringLiteral("pid"), QCoreApplication::applicationPid())
        .add(QStringLiteral("key"), key)
        .add(QStringLiteral("clock-offset-us"), m_options.clockOffsetUs)
        .print();
    printOutputLine(QStringLiteral("Slave ready. Admit it on the master with --slaves %1").arg(key));
    return QCoreApplication::exec();
}

NetControlNS::slaveControlCbk SlaveHost::makeCallbacks()
{
    NetControlNS::slaveControlCbk callbacks;
    auto received = [](const char* command) { return EventLine(QStringLiteral("received")).add(QStringLiteral("command"), command); };
    callbacks.prepareCbk = [this, received](char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        const std::vector<int> changed = m_player.prepare();
        printReceived(received("prepare"), mono, -1, userData, len, changed);
        report(&MultiNetControl::reportPrepared, "prepared", changed);
    };
    callbacks.startCbk = [this, received](int layer, double first, double second, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("start").add(QStringLiteral("first"), first, 3).add(QStringLiteral("second"), second, 3),
                      mono, layer, userData, len, m_player.start(layer, first, second));
    };
    callbacks.pauseCbk = [this, received](int layer, double value, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("pause").add(QStringLiteral("value"), value, 3), mono, layer, userData, len,
                      m_player.pause(layer));
    };
    callbacks.stopCbk = [this, received](int layer, double value, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        const std::vector<int> changed = m_player.stop(layer);
        printReceived(received("stop").add(QStringLiteral("value"), value, 3), mono, layer, userData, len, changed);
        report(&MultiNetControl::reportComplete, "complete", changed);  // a stopped layer has finished its programme
    };
    callbacks.seekCbk = [this, received](int layer, qint64 position, bool flag, double value, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("seek")
                          .add(QStringLiteral("position"), position)
                          .add(QStringLiteral("flag"), flag)
                          .add(QStringLiteral("value"), value, 3),
                      mono, layer, userData, len, m_player.seek(layer, position));
    };
    callbacks.speedCbk = [this, received](int layer, double speed, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("speed").add(QStringLiteral("speed"), speed, 3), mono, layer, userData, len,
                      m_player.setSpeed(layer, speed));
    };
    callbacks.stepCbk = [this, received](int layer, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("step"), mono, layer, userData, len, m_player.step(layer, 1));
    };
    callbacks.stepBackCbk = [this, received](int layer, char* userData, int len) {
        const qint64 mono = HostClock::monotonicUs();
        printReceived(received("stepback"), mono, layer, userData, len, m_player.step(layer, -1));
    };
    callbacks.getLayerIdsCbk = [this] { return m_player.layerIds(); };
    callbacks.clockOffsetCbk = [](double seconds) {
        EventLine(QStringLiteral("clock-offset"))
            .add(QStringLiteral("seconds"), seconds, 6)
            .add(QStringLiteral("us"), static_cast<qint64>(seconds * 1e6))
            .print();
    };
    callbacks.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    callbacks.masterLostCbk = [](bool) { EventLine(QStringLiteral("master-lost")).print(); };
    return callbacks;
}

void SlaveHost::printReceived(EventLine received, qint64 monoUs, int layerId, const char* userData, int userDataLen,
                              const std::vector<int>& changedLayers) const
{
    received.add(QStringLiteral("layer"), layerId)
        .add(QStringLiteral("user-data"), describeUserData(userData, userDataLen))
        .add(QStringLiteral("mono-us"), monoUs)
        .print();
    if (changedLayers.empty())
        printOutputLine(QStringLiteral("  (this player has no layer %1)").arg(layerId));
    printLayers(changedLayers);
}

void SlaveHost::printLayers(const std::vector<int>& layerIds) const
{
    for (const SimulatedPlayer::LayerView& layer : m_player.view()) {
        if (std::find(layerIds.begin(), layerIds.end(), layer.layerId) == layerIds.end())
            continue;
        EventLine(QStringLiteral("player"))
            .add(QStringLiteral("layer"), layer.layerId)
            .add(QStringLiteral("state"), SimulatedPlayer::stateName(layer.state))
            .add(QStringLiteral("position-s"), static_cast<double>(layer.positionUs) / 1e6, 3)
            .add(QStringLiteral("speed"), layer.speed, 3)
            .print();
    }
}

void SlaveHost::report(Report send, const char* what, const std::vector<int>& layerIds)
{
    for (int layer : layerIds) {
        const bool sent = (m_control.*send)(layer);
        EventLine(QStringLiteral("reported"))
            .add(QStringLiteral("what"), what)
            .add(QStringLiteral("layer"), layer)
            .add(QStringLiteral("result"), sent)
            .print();
    }
}

void SlaveHost::handleInput(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    if (words.front() == QLatin1String("quit") && words.size() == 1) {
        QCoreApplication::quit();
    } else if (words.front() == QLatin1String("status") && words.size() == 1) {
        printLayers(m_player.layerIds());
        printDropCounts(m_control.getDropCounts());
    } else if (words.front() == QLatin1String("advance-clock") && words.size() == 2) {
        bool ok = false;
        const qint64 us = words[1].toLongLong(&ok);
        constexpr qint64 kLongestAdvanceUs = 10LL * 86400LL * 1000000LL;  // ten days
        if (!ok || us <= 0 || us > kLongestAdvanceUs) {
            printOutputLine(QStringLiteral("multinet-demo slave: advance-clock takes microseconds from 1 to %1, got '%2'")
                                .arg(kLongestAdvanceUs)
                                .arg(words[1]));
            return;
        }
        m_clock.advance(us);
        EventLine(QStringLiteral("clock-advanced"))
            .add(QStringLiteral("by-us"), us)
            .add(QStringLiteral("offset-us"), m_clock.offsetUs())
            .print();
    } else {
        printOutputLine(QStringLiteral("multinet-demo slave: ignored '%1' (input takes: advance-clock US, status, quit)").arg(line));
    }
}
