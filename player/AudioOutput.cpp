// SPDX-License-Identifier: MIT
#include "AudioOutput.h"

#include <QStringList>

namespace {

struct Candidate
{
    const char* element;
    const char* package;
};

// PulseAudio's sink first: on a desktop it is the way to the speakers, and PipeWire answers it too. ALSA's
// default device for a PC without a sound server.
constexpr Candidate kCandidates[] = {
    {"pulsesink", "gstreamer1.0-plugins-good"},
    {"alsasink", "gstreamer1.0-alsa"},
};

// The sink's clock is slaved to the pipeline's, which on a slave itself follows the master's time line:
// the sound card's crystal and that line part at some tens of ppm, more on a PC whose clock is steered.
// Without slaving ("none") that drift adds up for as long as the programme plays. "resample" feeds the
// sink's clock to GstClock's master/slave regression, sampled every 100 ms over 32 samples: it lags a
// rate that the steering changes, and the sound wanders by what the regression has not caught up with.
// "skew" compares the two clocks at every buffer and, once their smoothed difference passes half the
// tolerance, moves the playout pointer by the tolerance: the sound stays within it of the pipeline's
// clock, whatever the drift. 1 ms keeps master and slaves within a fraction of a frame, and moves the
// pointer once a second at 1000 ppm. The alignment threshold at the tolerance, with no wait, lets such a
// move (and a trim of the screen, which moves the base time) take effect at once rather than after the
// default second of waiting; a clip's own time stamps are exact, so nothing else crosses it.
constexpr gint64 kDriftToleranceUs = 1000;
constexpr guint64 kAlignmentThresholdNs = guint64(kDriftToleranceUs) * 1000;

QString errorOf(GstBus* bus)
{
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (!message)
        return QStringLiteral("cannot open its output");
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    const QString text = QString::fromUtf8(error ? error->message : "cannot open its output");
    g_clear_error(&error);
    gst_message_unref(message);
    return text;
}

// The element in READY, its output opened; null, with `why` saying what it said, when it cannot open one.
GstElement* openSink(const Candidate& candidate, QString& why)
{
    GstElement* sink = gst_element_factory_make(candidate.element, nullptr);
    if (!sink) {
        why = QStringLiteral("%1 is missing (%2)").arg(QLatin1String(candidate.element), QLatin1String(candidate.package));
        return nullptr;
    }
    gst_object_ref_sink(sink);
    // No pipeline yet: a bus of its own catches why the sink could not open its output.
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(sink, bus);
    const bool opened = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    if (!opened) {
        why = QStringLiteral("%1: %2").arg(QLatin1String(candidate.element), errorOf(bus));
        gst_element_set_state(sink, GST_STATE_NULL);
    }
    gst_element_set_bus(sink, nullptr);
    gst_object_unref(bus);
    if (!opened) {
        gst_object_unref(sink);
        return nullptr;
    }
    gst_util_set_object_arg(G_OBJECT(sink), "slave-method", "skew");
    g_object_set(sink, "drift-tolerance", kDriftToleranceUs, "alignment-threshold", kAlignmentThresholdNs,
                 "discont-wait", guint64(0), nullptr);
    return sink;
}

} // namespace

AudioOutput::Sink AudioOutput::open()
{
    Sink sink;
    QStringList reasons;
    for (const Candidate& candidate : kCandidates) {
        QString why;
        if (GstElement* element = openSink(candidate, why)) {
            sink.element = element;
            sink.name = QLatin1String(candidate.element);
            return sink;
        }
        reasons.append(why);
    }
    sink.whyNone = QStringLiteral("no audio output: ") + reasons.join(QLatin1String("; "));
    return sink;
}
