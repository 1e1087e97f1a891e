// SPDX-License-Identifier: MIT
#include "WindowSink.h"

#include <gst/base/gstbasesink.h>

namespace {

enum Signal { kHandoff, kPrerollHandoff, kSignalCount };
guint g_signals[kSignalCount];
GstBaseSinkClass* g_parentClass = nullptr;

// Hands the frame off once the parent has shown it.
GstFlowReturn showThenHandOff(GstBaseSink* sink, GstBuffer* buffer, Signal signal)
{
    const auto show = signal == kHandoff ? g_parentClass->render : g_parentClass->preroll;
    const GstFlowReturn result = show(sink, buffer);
    if (result == GST_FLOW_OK)
        g_signal_emit(sink, g_signals[signal], 0, buffer, sink->sinkpad);
    return result;
}

GstFlowReturn render(GstBaseSink* sink, GstBuffer* buffer)
{
    return showThenHandOff(sink, buffer, kHandoff);
}

GstFlowReturn preroll(GstBaseSink* sink, GstBuffer* buffer)
{
    return showThenHandOff(sink, buffer, kPrerollHandoff);
}

void classInit(gpointer klass, gpointer)
{
    g_parentClass = GST_BASE_SINK_CLASS(g_type_class_peek_parent(klass));
    GST_BASE_SINK_CLASS(klass)->render = render;
    GST_BASE_SINK_CLASS(klass)->preroll = preroll;
    // The signatures of fakesink's, so that one handler serves both sinks.
    const char* const names[kSignalCount] = {"handoff", "preroll-handoff"};
    for (int i = 0; i < kSignalCount; ++i)
        g_signals[i] = g_signal_new(names[i], G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr, nullptr,
                                    G_TYPE_NONE, 2, GST_TYPE_BUFFER | G_SIGNAL_TYPE_STATIC_SCOPE, GST_TYPE_PAD);
}

bool registerOnce()
{
    GstElementFactory* factory = gst_element_factory_find("ximagesink");
    if (!factory)
        return false;
    GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
    gst_object_unref(factory);
    if (!loaded)
        return false;
    const GType parent = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded));
    gst_object_unref(loaded);
    GTypeQuery query;
    g_type_query(parent, &query);
    const GType type = g_type_register_static_simple(parent, "TamoWindowSink", query.class_size, classInit,
                                                     query.instance_size, nullptr, GTypeFlags(0));
    return gst_element_register(nullptr, WindowSink::kElement, GST_RANK_NONE, type);
}

} // namespace

bool WindowSink::registerElement()
{
    static const bool registered = registerOnce();
    return registered;
}
