// SPDX-License-Identifier: MIT
// The sink that plays a programme's sound: ALSA's default device (which is the sound server where one runs),
// else PulseAudio's (PipeWire's included), else none, with the reason. The sink is opened here, so that a PC without a sound output
// is known before the pipeline is built, and it is set to follow the pipeline's clock closely (see
// AudioOutput.cpp for why skew slaving with a tolerance of 1 ms).
#pragma once

#include <QString>

#include <gst/gst.h>

namespace AudioOutput {

struct Sink
{
    GstElement* element = nullptr;  // the caller's reference, in READY; null when there is none
    QString name;                   // the element's factory, "alsasink"
    QString whyNone;                // when there is none: what each sink said
};

// The first sink that opens a sound output.
Sink open();

} // namespace AudioOutput
