// SPDX-License-Identifier: MIT
#pragma once

// The analyser's sine generator: frequency, level, on/off, and whether each of its two outputs
// is driven (both are by default; driving one alone is how cross-talk is measured). The
// analyser sets it from its own thread while a live source plays it from a real-time callback,
// so every setting is a lock-free atomic, and a refused value leaves the setting as it was.

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace vantel::source {

struct GeneratorSettings {
    double frequency_hz = 1000.0;
    double level_v_rms = 1.0;
    bool on = true;
    std::array<bool, 2> output_on{true, true};  // channel A, channel B
};

class Generator {
public:
    // Above this the analyser's output stage would be far beyond any bench instrument's range.
    static constexpr double kMaxLevelVRms = 100.0;

    Generator() = default;

    double frequency_hz() const { return frequency_hz_.load(std::memory_order_relaxed); }
    double level_v_rms() const { return level_v_rms_.load(std::memory_order_relaxed); }
    bool on() const { return on_.load(std::memory_order_relaxed); }
    bool output_on(int channel) const;
    GeneratorSettings settings() const;

    // Each throws std::invalid_argument with the reason and keeps the previous setting when the
    // value is NaN, infinite, negative or otherwise out of range. Without a rate the frequency
    // is only checked to be above 0 Hz; the analyser passes the rate the generator plays at.
    void set_frequency_hz(double frequency_hz);
    void set_frequency_hz(double frequency_hz, double rate_hz);
    void set_level_v_rms(double level_v_rms);
    void set_on(bool on) { on_.store(on, std::memory_order_relaxed); }
    void set_output_on(int channel, bool on);

    // Throws std::invalid_argument unless a sine of `frequency_hz` can be played at `rate_hz`:
    // finite, above 0 Hz and below half the rate (Nyquist).
    static void check_frequency(double frequency_hz, double rate_hz);
    static void check_level(double level_v_rms);

    // The sine for frames [first_frame, first_frame + out.size()) at `rate_hz`, in volts, with
    // phase zero at frame 0 whatever the order of calls. Silence while off, and at or above
    // half the rate, which the converter's anti-alias filter would remove.
    void render_v(std::int64_t first_frame, double rate_hz, std::span<double> out_v) const;

private:
    static_assert(std::atomic<double>::is_always_lock_free);
    std::atomic<double> frequency_hz_{GeneratorSettings{}.frequency_hz};
    std::atomic<double> level_v_rms_{GeneratorSettings{}.level_v_rms};
    std::atomic<bool> on_{true};
    std::array<std::atomic<bool>, 2> output_on_{true, true};
};

}  // namespace vantel::source
