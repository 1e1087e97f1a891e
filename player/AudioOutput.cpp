// SPDX-License-Identifier: MIT
#include "AudioOutput.h"

#include <QStringList>

namespace {

struct Candidate
{
    const char* element;
    const char* package;
};

// ALSA's default device first: where a sound server runs, that is the server (the ALSA plugin of PulseAudio
// or PipeWire), else the sound card. alsasink's clock and the place of each sample come from its own ring
// buffer's count of samples played. pulsesink's come from libpulse's interpolated stream clock, which (in
// libpulse 16) runs from the stream's set-up while nothing plays, so that each start was as late as the
// stream was old (the 200 ms of a start's margin, pulled in by the skew slaving over 2 s), and which, after
// a pause and a flush on a busy machine, can jump to a wild value and stay there: the sink then writes its
// samples at absurd offsets and waits for room in the server's buffer for good (a session's end never
// came). pulsesink remains for a PC whose ALSA has no way to its running sound server.
constexpr Candidate kCandidates[] = {
    {"alsasink", "gstreamer1.0-alsa"},
    {"pulsesink", "gstreamer1.0-plugins-good"},
};

// The sink's clock is slaved to the pipeline's, which on a slave itself follows the master's time line:
// the sound card's crystal and that line part at some tens of ppm, more on a PC whose clock is steered.
// Without slaving ("none") that drift adds up for as long as the programme plays. "resample" feeds the
// sink's clock to GstClock's master/slave regression, sampled every 100 ms over 32 samples: it lags a
// rate that the steering changes, and the sound wanders by what the regression has not caught up with.
// "skew" compares the two clocks at every buffer and, once their smoothed difference passes half the
// tolerance, moves the playout pointer by the tolerance: the sound stays within it of the pipeline's
// clock, whatever the drift. The skew it sees is mostly the noise of the output's delay (through a sound
// server's ALSA plugin). Measured with slaves 150 ppm off, a looped clip at a null sink: at 1 ms the
// sound of a slave and its master parted by up to 542 us (35 s); over 110 s, at 250 us a slave sat 100
// to 600 us to one side of its master, by its drift's sign, and at 100 us within 150 us through
// PulseAudio and 300 us through PipeWire once settled. At 1000 ppm the pointer then moves ten times a
// second, by 5 samples at 48 kHz.
// The alignment threshold at the tolerance, with no wait, lets such a move (and a trim of the screen,
// which moves the base time) take effect at once rather than after the default second of waiting; a
// clip's own time stamps are exact, so nothing else crosses it.
constexpr gint64 kDriftToleranceUs = 100;
constexpr guint64 kAlignmentThresholdNs = guint64(kDriftToleranceUs) * 1000;
// The sink's buffer, written 25 ms at a time. Through a sound server's ALSA plugin the delay that the
// sink's clock subtracts fills up with the server's buffer after a start, and until the skew slaving has
// caught up with it the sound comes late by up to that much: 55 ms at the default 200 ms, 5 ms at 100 ms
// (the first second after a start, a null sink of PulseAudio). 75 ms are left to wake up in on a busy PC.
// The period is also the latency that PipeWire's ALSA plugin asks of the graph, which then cycles at the
// largest power of two of frames within the smallest latency asked: 1024 frames (21 ms, PipeWire's own
// default) at 25 ms, 256 (5.3 ms) at 10 ms. A PC that stalls for 5 to 8 ms now and then (a virtual machine
// does, a real-time thread too) makes a graph that short miss cycles, several a minute; each moved that
// player's sound by up to a cycle until the skew slaving had pulled it back, 1 to 10 ms for a second. At
// 21 ms they hardly miss one (one in 110 s of three PCs). Through PulseAudio's ALSA plugin the longer period lets the sink's
// clock stray further while it settles after a start (1 to 2.5 ms over the first seconds in three runs
// of four, 0.4 to 0.6 ms in two of five at 10 ms).
constexpr gint64 kBufferTimeUs = 100000;
constexpr gint64 kLatencyTimeUs = 25000;

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
    g_object_set(sink, "buffer-time", kBufferTimeUs, "latency-time", kLatencyTimeUs, "drift-tolerance",
                 kDriftToleranceUs, "alignment-threshold", kAlignmentThresholdNs, "discont-wait", guint64(0), nullptr);
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
