// SPDX-License-Identifier: MIT
#include "SlavePlayer.h"

#include "EventLine.h"
#include "HostStartup.h"
#include "PipelineClock.h"

#include <QCoreApplication>

#include <cmath>

namespace {

constexpr int kLayer = 0;

} // namespace

SlavePlayer::SlavePlayer(PlayerOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clockOffsetUs),
      m_playback(m_log),
      m_callbacks(makeCallbacks()),
      m_net(std::make_unique<NetControlThread>(&m_callbacks, m_options.group, m_options.ip, m_options.port)),
      m_input([this](const QString& line) {
                  if (line.trimmed() == QLatin1String("quit"))
                      finish();
              },
              [this] { finish(); })
{
    m_net->control().setSlaveFlag(true);
    m_net->control().setMasterIp(m_options.masterIp.toStdString());
    m_playback.media().setHandlers(
        [this] {
            const bool sent = m_net->control().reportComplete(kLayer);
            EventLine(QStringLiteral("complete")).add(QStringLiteral("reported"), sent).print();
        },
        [](const QString& message) { EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print(); });
    m_playback.setLateErrorHandler(
        [](const QString& message) { EventLine(QStringLiteral("error")).add(QStringLiteral("message"), message).print(); });
}

SlavePlayer::~SlavePlayer()
{
    m_net.reset();  // no callback runs after this
}

int SlavePlayer::exec()
{
    MultiNetControl& control = m_net->control();
    if (!listeningOrSayWhy(control.isListening(), control.errorString(), QStringLiteral("multinet-player slave")))
        return 1;
    const QString key = m_options.ip + QLatin1Char('_') + QString::number(QCoreApplication::applicationPid());
    EventLine(QStringLiteral("ready"))
        .add(QStringLiteral("role"), "slave")
        .add(QStringLiteral("ip"), m_options.ip)
        .add(QStringLiteral("pid"), QCoreApplication::applicationPid())
        .add(QStringLiteral("key"), key)
        .add(QStringLiteral("clock-offset-us"), m_options.clockOffsetUs)
        .add(QStringLiteral("clock"), m_options.clock == SyncClock::GstNet ? "gstreamer-net" : "library")
        .add(QStringLiteral("ignore-offset"), m_options.ignoreOffset)
        .print();
    return QCoreApplication::exec();
}

NetControlNS::slaveControlCbk SlavePlayer::makeCallbacks()
{
    NetControlNS::slaveControlCbk callbacks;
    callbacks.prepareCbk = [this](char* userData, int len) {
        const CommandData data = CommandData::parse(userData, len);
        printReceived("prepare", data);
        QMetaObject::invokeMethod(&m_mainContext, [this, data] { prepare(data); }, Qt::QueuedConnection);
    };
    SyncCommand::receiveInto(callbacks, [this](const char* name, const CommandData& data, std::optional<SyncCommand> command) {
        printReceived(name, data);
        QMetaObject::invokeMethod(
            &m_mainContext,
            [this, name, command] {
                if (command)
                    carryOut(*command);
                else
                    EventLine(QStringLiteral("error"))
                        .add(QStringLiteral("message"), QStringLiteral("%1 without at= and pos= in its user data; ignored").arg(QLatin1String(name)))
                        .print();
            },
            Qt::QueuedConnection);
    });
    callbacks.getLayerIdsCbk = [] { return std::vector<int>{kLayer}; };
    callbacks.clockOffsetCbk = [this](double seconds) {
        const qint64 us = std::llround(seconds * 1e6);
        m_offsetUs = us;
        EventLine(QStringLiteral("clock-offset")).add(QStringLiteral("us"), us).print();
    };
    callbacks.getClockTimeCbk = [this] { return m_clock.nowUs(); };
    callbacks.masterLostCbk = [](bool) { EventLine(QStringLiteral("master-lost")).print(); };
    return callbacks;
}

void SlavePlayer::printReceived(const char* name, const CommandData& data) const
{
    EventLine(QStringLiteral("received"))
        .add(QStringLiteral("command"), name)
        .add(QStringLiteral("tag"), data.value(QStringLiteral("tag")))
        .add(QStringLiteral("mono-us"), HostClock::monotonicUs())
        .print();
}

void SlavePlayer::prepare(const CommandData& data)
{
    const QString uri = data.value(QStringLiteral("uri"));
    if (!uri.isEmpty() && uri == m_openUri && m_playback.media().isOpen()) {
        // Prepared again for a player that joins: this one plays on as it is.
        EventLine(QStringLiteral("prepared"))
            .add(QStringLiteral("ok"), true)
            .add(QStringLiteral("again"), true)
            .add(QStringLiteral("reported"), m_net->control().reportPrepared(kLayer))
            .print();
        return;
    }
    QString error;
    GstClock* clock = m_options.clock == SyncClock::GstNet
                          ? PipelineClock::follow(m_options.masterIp, m_options.netClockPort, error)
                          : PipelineClock::monotonic(m_options.clockOffsetUs * 1000);
    const bool opened = clock && m_playback.media().open(uri, clock, m_options.window, m_options.label, error);
    if (clock)
        gst_object_unref(clock);
    EventLine prepared(QStringLiteral("prepared"));
    prepared.add(QStringLiteral("ok"), opened);
    if (!opened) {
        prepared.add(QStringLiteral("error"), error).print();
        return;
    }
    m_openUri = uri;
    prepared.add(QStringLiteral("reported"), m_net->control().reportPrepared(kLayer)).print();
}

void SlavePlayer::carryOut(const SyncCommand& command)
{
    QString error;
    const qint64 atClockNs = toClockNs(command.atHostUs);
    const bool ok = m_playback.apply(command, atClockNs, error);
    EventLine applied(QStringLiteral("applied"));
    applied.add(QStringLiteral("command"), SyncCommand::name(command.kind))
        .add(QStringLiteral("position-us"), command.positionUs)
        .add(QStringLiteral("lead-us"), (atClockNs - qint64(m_clock.nowUs()) * 1000) / 1000)
        .add(QStringLiteral("ok"), ok);
    if (!ok)
        applied.add(QStringLiteral("error"), error);
    applied.print();
}

qint64 SlavePlayer::toClockNs(double masterHostUs) const
{
    // The pipeline runs on this host's clock, or on the master's when it follows GStreamer's network clock.
    if (m_options.clock == SyncClock::GstNet)
        return std::llround(masterHostUs * 1000.0);
    const qint64 offsetUs = m_options.ignoreOffset ? 0 : m_offsetUs.load();
    return std::llround((masterHostUs + double(offsetUs)) * 1000.0);
}

void SlavePlayer::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_playback.media().halt();
    EventLine frames(QStringLiteral("frames"));
    frames.add(QStringLiteral("count"), int(m_log.frames().size()))
        .add(QStringLiteral("realtime"), m_playback.media().realtime());
    QString error;
    if (!m_options.frameLog.isEmpty() && !m_log.write(m_options.frameLog, error))
        frames.add(QStringLiteral("error"), error);
    frames.print();
    QCoreApplication::quit();
}
