// SPDX-License-Identifier: MIT
#include "NetControlThread.h"

NetControlThread::NetControlThread(NetControlNS::slaveControlCbk* callbacks, const PlayerOptions& options)
{
    m_thread.setObjectName(QStringLiteral("net-control"));
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_context,
        [&] { m_control = std::make_unique<MultiNetControl>(callbacks, options.group, options.ip.toStdString(), options.port); },
        Qt::BlockingQueuedConnection);
    if (!options.keys)
        return;
    const QString who = options.master ? QStringLiteral("multinet-player master") : QStringLiteral("multinet-player slave");
    m_keys = std::make_unique<KeyFileReload>(*options.keys, who, [this](const std::vector<KeyFile::Key>& keys) {
        std::vector<NetControlNS::struGroupKey> groupKeys;
        for (const KeyFile::Key& key : keys)
            groupKeys.push_back(NetControlNS::struGroupKey{key.id, key.secret});
        m_control->setGroupKeys(groupKeys);
    });
}

NetControlThread::~NetControlThread()
{
    m_keys.reset();  // no SIGHUP reaches the object while it goes
    QMetaObject::invokeMethod(&m_context, [this] { m_control.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}
