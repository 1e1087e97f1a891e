// SPDX-License-Identifier: MIT
// The control object on a Qt thread of its own. Its reception (and the time stamps of the clock samples)
// then never waits for the player's main thread, which blocks while a pipeline prerolls.
#pragma once

#include <MultiNetControl.h>

#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

class NetControlThread
{
public:
    // `callbacks` must outlive this object.
    NetControlThread(NetControlNS::slaveControlCbk* callbacks, int group, const QString& ip, quint16 port);
    ~NetControlThread();

    NetControlThread(const NetControlThread&) = delete;
    NetControlThread& operator=(const NetControlThread&) = delete;

    // Safe to call from any thread, as every operation but construction and destruction.
    MultiNetControl& control() { return *m_control; }

private:
    QThread m_thread;
    QObject m_context;  // lives in m_thread
    std::unique_ptr<MultiNetControl> m_control;  // made and destroyed on m_thread
};
