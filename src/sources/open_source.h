// SPDX-License-Identifier: MIT
#pragma once

// Opening a source by the name a user gives on the command line or in a setting.

#include <cstdint>
#include <memory>
#include <string_view>

#include "sources/generator.h"
#include "sources/live_source.h"
#include "sources/sample_source.h"
#include "sources/simulated_device.h"

namespace vantel::source {

struct SourceOptions {
    std::uint64_t seed = 1;  // the simulated device's noise and drift
    MonotonicClock clock;    // std::chrono::steady_clock when empty
    double full_scale_v_rms = kAnalogueFullScaleVRms;
};

// "sim": the generator through the simulated device under test; "loopback": the generator
// straight to the inputs; "jack": a JACK client; "alsa" or "alsa:DEVICE": an ALSA device
// ("default" unless named); anything else is a sound file's path (write ./sim for a file called
// sim). `live` says how "jack" and "alsa" connect and log. Throws SourceError naming the source and
// the reason when it cannot be opened, and std::invalid_argument when a generated source is given
// no generator.
std::unique_ptr<SampleSource> open_source(std::string_view source_name,
                                          std::shared_ptr<Generator> generator,
                                          const SourceOptions& options = {},
                                          const LiveOptions& live = {});

}  // namespace vantel::source
