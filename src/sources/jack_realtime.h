// SPDX-License-Identifier: MIT
#pragma once

// What the JACK process callback works with, set up and torn down outside it. Private to
// jack_source.cpp and jack_process.cpp.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "sources/frame_ring.h"
#include "sources/generator.h"
#include "sources/live_statistics.h"

namespace vantel::source::jack {

struct Realtime {
    std::array<jack_port_t*, 2> inputs{};
    std::array<jack_port_t*, 2> outputs{};
    FrameRing* ring = nullptr;
    const Generator* generator = nullptr;
    LiveStatistics* statistics = nullptr;
    double rate_hz = 0.0;
    // Samples per volt on the outputs, 1 / (full scale x sqrt 2); set before activation.
    double units_per_v = 0.0;
    // The generator's sine for one period, in volts; sized before activation for the largest
    // period the server may use. A longer period plays silence rather than allocate.
    std::vector<double> scratch_v;
    std::int64_t generator_frame = 0;
    std::atomic<bool> server_gone{false};
};

// The process callback (jack_process.cpp, real-time code).
int process(jack_nframes_t frames, void* realtime);
// JACK's own threads call these; they only count and flag.
int xrun(void* realtime);
void shutdown(jack_status_t code, const char* reason, void* realtime);

}  // namespace vantel::source::jack
