// SPDX-License-Identifier: MIT
#pragma once

// Live inputs: what a sound card hears, through a JACK server (jackd, or PipeWire's JACK) or
// straight from an ALSA device, with the analyser's generator played out beside it.
//
// Each keeps its history in a FrameRing that its real-time side fills, and follows its device
// from a supervising thread of its own: while the JACK server is away the input reports rate 0
// and unlocked, and when the server returns it connects again by itself and starts a new epoch.
// The library logs nothing itself: it hands its lines to `LiveOptions::log`, from that thread.

#include <functional>
#include <memory>
#include <string>

#include "sources/generator.h"
#include "sources/live_statistics.h"
#include "sources/sample_source.h"
#include "sources/simulated_device.h"

namespace vantel::source {

struct LiveOptions {
    // JACK: the client's name, and whether to connect its inputs to the first two physical
    // capture ports. The generator's outputs are connected to the first two physical playback
    // ports only when asked: an analyser must not blow up a speaker on start-up.
    std::string jack_client_name = "vantel-analyser";
    bool connect_inputs = true;
    bool connect_generator = false;
    // ALSA: the rate asked of the device.
    double alsa_rate_hz = 48000.0;
    // The volts RMS of a full-scale sine on the outputs: the generator's volts become samples
    // through it, as on the inputs.
    double full_scale_v_rms = kAnalogueFullScaleVRms;
    // Receives what is worth a line in the log (connected, server gone, xruns); called from the
    // source's own thread, never from the real-time one.
    std::function<void(const std::string&)> log;
};

// A live source and what its real-time side has counted.
class LiveSource : public SampleSource {
public:
    virtual const LiveStatistics& statistics() const = 0;
};

// A JACK client with input ports in_A and in_B and generator outputs out_A and out_B, at the
// server's rate. Throws SourceError when no JACK server answers (the server named by
// JACK_DEFAULT_SERVER, or the default one).
std::unique_ptr<LiveSource> open_jack(std::shared_ptr<const Generator> generator,
                                      LiveOptions options);

// Two channels captured from the ALSA PCM `device` ("default", "hw:1", "null"...) in the best
// sample format it offers (32-bit, 24-bit, 16-bit integers, or float), with the generator
// played on the same device's playback side when it has one. Throws SourceError naming the
// device when it does not exist, is busy or cannot capture two channels at the rate.
std::unique_ptr<LiveSource> open_alsa(const std::string& device,
                                      std::shared_ptr<const Generator> generator,
                                      LiveOptions options);

}  // namespace vantel::source
