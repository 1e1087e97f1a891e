// SPDX-License-Identifier: MIT
#include "NetControlThread.h"

NetControlThread::NetControlThread(NetControlNS::slaveControlCbk* callbacks, int group, const QString& ip, quint16 port)
{
    m_thread.setObjectName(QStringLiteral("net-control"));
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_context, [&] { m_control = std::make_unique<MultiNetControl>(callbacks, group, ip.toStdString(), port); },
        Qt::BlockingQueuedConnection);
}

NetControlThread::~NetControlThread()
{
    QMetaObject::invokeMethod(&m_context, [this] { m_control.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}
