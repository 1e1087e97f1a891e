// SPDX-License-Identifier: MIT
// Hands the messages of a pipeline's bus to a handler on the Qt main thread, as they come.
//
// Qt's event dispatcher on Linux is GLib's, and on the main thread it runs GLib's default main context:
// there a bus watch (gst_bus_add_watch) is all it takes. Under another dispatcher (QT_NO_GLIB=1, or a Qt
// built without GLib) nothing runs that context, so the bus's sync handler, called on whichever thread
// posts, queues a call on the main thread that takes the waiting messages off the bus instead.
#pragma once

#include <QObject>

#include <gst/gst.h>

#include <functional>

class BusWatch
{
public:
    // Made and destroyed on the main thread, while the pipeline is in the NULL state or after it has
    // posted its last message.
    BusWatch(GstElement* pipeline, std::function<void(GstMessage*)> handler);
    ~BusWatch();

    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

    // Whether the main thread's event loop runs GLib's default main context.
    static bool mainLoopIsGlib();

private:
    void takeWaitingMessages();
    static gboolean onWatch(GstBus* bus, GstMessage* message, gpointer self);
    static GstBusSyncReply onPosted(GstBus* bus, GstMessage* message, gpointer self);

    GstBus* const m_bus;
    const std::function<void(GstMessage*)> m_handler;  // main thread only
    guint m_watchId = 0;
    // Lives on the main thread; the posting threads queue calls on it (thread-safe), which die with it.
    QObject m_mainContext;
};
