// SPDX-License-Identifier: MIT
#include "BusWatch.h"

#include <QAbstractEventDispatcher>
#include <QtDebug>

BusWatch::BusWatch(GstElement* pipeline, std::function<void(GstMessage*)> handler)
    : m_bus(gst_element_get_bus(pipeline)), m_handler(std::move(handler))
{
    if (mainLoopIsGlib()) {
        m_watchId = gst_bus_add_watch(m_bus, &BusWatch::onWatch, this);
        return;
    }
    static bool told = false;  // main thread only
    if (!told) {
        told = true;
        qInfo("multinet-player: Qt's event loop does not run GLib's main context here; bus messages reach the "
              "main thread through queued calls");
    }
    gst_bus_set_sync_handler(m_bus, &BusWatch::onPosted, this, nullptr);
}

BusWatch::~BusWatch()
{
    if (m_watchId)
        gst_bus_remove_watch(m_bus);
    else
        gst_bus_set_sync_handler(m_bus, nullptr, nullptr, nullptr);
    gst_object_unref(m_bus);
}

bool BusWatch::mainLoopIsGlib()
{
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

void BusWatch::takeWaitingMessages()
{
    while (GstMessage* message = gst_bus_pop(m_bus)) {
        m_handler(message);
        gst_message_unref(message);
    }
}

gboolean BusWatch::onWatch(GstBus*, GstMessage* message, gpointer self)
{
    static_cast<BusWatch*>(self)->m_handler(message);
    return G_SOURCE_CONTINUE;
}

GstBusSyncReply BusWatch::onPosted(GstBus*, GstMessage*, gpointer self)
{
    auto* watch = static_cast<BusWatch*>(self);
    QMetaObject::invokeMethod(&watch->m_mainContext, [watch] { watch->takeWaitingMessages(); }, Qt::QueuedConnection);
    return GST_BUS_PASS;
}
