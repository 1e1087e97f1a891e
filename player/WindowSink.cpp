// SPDX-License-Identifier: MIT
#include "WindowSink.h"

#include <gst/base/gstbasesink.h>

namespace {

enum Signal { kHandoff, kPrerollHandoff, kSignalCount };

// What each registered type keeps of its own: its signals, and the class it extends.
struct SinkType
{
    guint signals[kSignalCount];
    GstBaseSinkClass* parentClass;
};
SinkType g_windowSink;
SinkType g_consoleSink;

GQuark sinkTypeQuark()
{
    return g_quark_from_static_string("tamo-sink-type");
}

const SinkType* sinkType(GstBaseSink* sink)
{
    return static_cast<const SinkType*>(g_type_get_qdata(G_OBJECT_TYPE(sink), sinkTypeQuark()));
}

// Hands the frame off once the parent has shown it.
GstFlowReturn showThenHandOff(GstBaseSink* sink, GstBuffer* buffer, Signal signal)
{
    const SinkType* type = sinkType(sink);
    const auto show = signal == kHandoff ? type->parentClass->render : type->parentClass->preroll;
    const GstFlowReturn result = show(sink, buffer);
    if (result == GST_FLOW_OK)
        g_signal_emit(sink, type->signals[signal], 0, buffer, sink->sinkpad);
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

void classInit(gpointer klass, gpointer data)
{
    auto* type = static_cast<SinkType*>(data);
    type->parentClass = GST_BASE_SINK_CLASS(g_type_class_peek_parent(klass));
    GST_BASE_SINK_CLASS(klass)->render = render;
    GST_BASE_SINK_CLASS(klass)->preroll = preroll;
    // The signatures of fakesink's, so that one handler serves every sink.
    const char* const names[kSignalCount] = {"handoff", "preroll-handoff"};
    for (int i = 0; i < kSignalCount; ++i)
        type->signals[i] = g_signal_new(names[i], G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                        nullptr, G_TYPE_NONE, 2, GST_TYPE_BUFFER | G_SIGNAL_TYPE_STATIC_SCOPE, GST_TYPE_PAD);
    g_type_set_qdata(G_TYPE_FROM_CLASS(klass), sinkTypeQuark(), type);
}

// Registers `element`, a type named `typeName` that extends the sink of `parentFactory`.
bool registerExtending(const char* parentFactory, const char* typeName, const char* element, SinkType& sinkType)
{
    GstElementFactory* factory = gst_element_factory_find(parentFactory);
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
    GTypeInfo info{};
    info.class_size = guint16(query.class_size);
    info.class_init = classInit;
    info.class_data = &sinkType;
    info.instance_size = guint16(query.instance_size);
    const GType type = g_type_register_static(parent, typeName, &info, GTypeFlags(0));
    return gst_element_register(nullptr, element, GST_RANK_NONE, type);
}

} // namespace

bool WindowSink::registerElement()
{
    static const bool registered = registerExtending("ximagesink", "TamoWindowSink", kElement, g_windowSink);
    return registered;
}

bool WindowSink::registerConsoleElement()
{
    static const bool registered = registerExtending("kmssink", "TamoConsoleSink", kConsoleElement, g_consoleSink);
    return registered;
}
