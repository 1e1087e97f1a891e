// SPDX-License-Identifier: MIT
#include "Decoders.h"

#include <QStringList>

namespace {

// Above the software decoders' primary rank.
constexpr guint kHardwareRank = GST_RANK_PRIMARY + 1;

bool rankedByUser(const QString& name)
{
    // "name:rank,name:rank,...", as GStreamer reads it.
    for (const QString& entry : qEnvironmentVariable("GST_PLUGIN_FEATURE_RANK").split(QLatin1Char(','))) {
        if (entry.section(QLatin1Char(':'), 0, 0).trimmed() == name)
            return true;
    }
    return false;
}

// "Codec/Decoder/Video/Hardware" as its words.
QStringList klassOf(GstElementFactory* factory)
{
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return QString::fromUtf8(klass).split(QLatin1Char('/'));
}

} // namespace

void Decoders::preferHardware()
{
    // Element kinds in a list type match any one of them: decoders are listed, and the hardware ones picked.
    const auto type = GstElementFactoryListType(GST_ELEMENT_FACTORY_TYPE_DECODER |
                                                GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO | GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE);
    GList* factories = gst_element_factory_list_get_elements(type, GST_RANK_NONE);
    for (GList* item = factories; item; item = item->next) {
        GstElementFactory* factory = GST_ELEMENT_FACTORY(item->data);
        const QString name = QString::fromUtf8(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)));
        if (klassOf(factory).contains(QLatin1String("Hardware")) && !rankedByUser(name))
            gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), kHardwareRank);
    }
    gst_plugin_feature_list_free(factories);
}

std::optional<Decoders::Decoder> Decoders::identify(GstElement* element)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory)
        return std::nullopt;
    const QStringList klass = klassOf(factory);
    if (!klass.contains(QLatin1String("Decoder")) ||
        (!klass.contains(QLatin1String("Video")) && !klass.contains(QLatin1String("Image"))))
        return std::nullopt;
    return Decoder{QString::fromUtf8(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory))),
                   klass.contains(QLatin1String("Hardware"))};
}
