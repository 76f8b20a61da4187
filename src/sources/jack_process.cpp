// SPDX-License-Identifier: MIT
// REAL-TIME CODE. Everything here runs in JACK's process thread: no locks, no allocation, no
// logging, no system calls that may block. Anything else belongs in jack_source.cpp.
#include <algorithm>
#include <span>

#include "sources/jack_realtime.h"

namespace vantel::source::jack {

int process(jack_nframes_t frames, void* arg) {
    auto& rt = *static_cast<Realtime*>(arg);
    const std::int64_t start_ns = monotonic_ns();
    const std::size_t n = frames;

    const auto* a = static_cast<const float*>(jack_port_get_buffer(rt.inputs[0], frames));
    const auto* b = static_cast<const float*>(jack_port_get_buffer(rt.inputs[1], frames));
    rt.ring->write({a, n}, {b, n});

    auto* out_a = static_cast<float*>(jack_port_get_buffer(rt.outputs[0], frames));
    auto* out_b = static_cast<float*>(jack_port_get_buffer(rt.outputs[1], frames));
    if (n <= rt.scratch_v.size()) {
        const std::span<double> sine(rt.scratch_v.data(), n);
        rt.generator->render_v(rt.generator_frame, rt.rate_hz, sine);
        const bool on_a = rt.generator->output_on(0);
        const bool on_b = rt.generator->output_on(1);
        for (std::size_t i = 0; i < n; ++i) {
            const auto sample = static_cast<float>(sine[i] * rt.units_per_v);
            out_a[i] = on_a ? sample : 0.0f;
            out_b[i] = on_b ? sample : 0.0f;
        }
    } else {
        std::fill_n(out_a, n, 0.0f);
        std::fill_n(out_b, n, 0.0f);
    }
    rt.generator_frame += static_cast<std::int64_t>(n);

    const std::int64_t end_ns = monotonic_ns();
    rt.statistics->count_period(end_ns - start_ns, end_ns);
    return 0;
}

int xrun(void* arg) {
    static_cast<Realtime*>(arg)->statistics->count_xrun();
    return 0;
}

void shutdown(jack_status_t, const char*, void* arg) {
    // The server has gone: the supervising thread notices, logs and reconnects.
    static_cast<Realtime*>(arg)->server_gone.store(true, std::memory_order_release);
}

}  // namespace vantel::source::jack
