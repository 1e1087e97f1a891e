// SPDX-License-Identifier: MIT
// The control object on a Qt thread of its own. Its reception (and the time stamps of the clock samples)
// then never waits for the player's main thread, which blocks while a pipeline prerolls. With a key file
// the object is keyed before it sends anything, and takes the file's keys again on SIGHUP.
#pragma once

#include "KeyFileReload.h"
#include "PlayerOptions.h"

#include <MultiNetControl.h>

#include <QObject>
#include <QThread>

#include <memory>

class NetControlThread
{
public:
    // `callbacks` must outlive this object. Made on the main thread, whose event loop tells it a SIGHUP.
    NetControlThread(NetControlNS::slaveControlCbk* callbacks, const PlayerOptions& options);
    ~NetControlThread();

    NetControlThread(const NetControlThread&) = delete;
    NetControlThread& operator=(const NetControlThread&) = delete;

    // Safe to call from any thread, as every operation but construction and destruction.
    MultiNetControl& control() { return *m_control; }

private:
    QThread m_thread;
    QObject m_context;  // lives in m_thread
    std::unique_ptr<MultiNetControl> m_control;  // made and destroyed on m_thread
    std::unique_ptr<KeyFileReload> m_keys;       // with --key-file
};
