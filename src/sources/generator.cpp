// SPDX-License-Identifier: MIT
#include "sources/generator.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "sources/oscillator.h"
#include "sources/sample_source.h"

namespace vantel::source {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace

bool Generator::output_on(int channel) const {
    check_channel(channel);
    return output_on_[channel].load(std::memory_order_relaxed);
}

GeneratorSettings Generator::settings() const {
    return {frequency_hz(), level_v_rms(), on(), {output_on(kChannelA), output_on(kChannelB)}};
}

void Generator::check_frequency(double frequency_hz, double rate_hz) {
    if (std::isnan(frequency_hz))
        throw std::invalid_argument("generator frequency is not a number");
    if (std::isinf(frequency_hz))
        throw std::invalid_argument("generator frequency is infinite");
    if (frequency_hz <= 0.0) {
        throw std::invalid_argument("generator frequency " + number(frequency_hz) +
                                    " Hz is not above 0 Hz");
    }
    if (!(rate_hz > 0.0) || !std::isfinite(rate_hz))
        return;  // no rate to check against
    if (frequency_hz >= rate_hz / 2.0) {
        throw std::invalid_argument("generator frequency " + number(frequency_hz) +
                                    " Hz is at or above half the " + number(rate_hz) +
                                    " Hz sample rate (" + number(rate_hz / 2.0) + " Hz)");
    }
}

void Generator::check_level(double level_v_rms) {
    if (std::isnan(level_v_rms))
        throw std::invalid_argument("generator level is not a number");
    if (std::isinf(level_v_rms))
        throw std::invalid_argument("generator level is infinite");
    if (level_v_rms < 0.0)
        throw std::invalid_argument("generator level " + number(level_v_rms) + " V is negative");
    if (level_v_rms > kMaxLevelVRms) {
        throw std::invalid_argument("generator level " + number(level_v_rms) +
                                    " V RMS is above the " + number(kMaxLevelVRms) +
                                    " V RMS the generator can give");
    }
}

void Generator::set_frequency_hz(double frequency_hz) {
    check_frequency(frequency_hz, 0.0);
    frequency_hz_.store(frequency_hz, std::memory_order_relaxed);
}

void Generator::set_frequency_hz(double frequency_hz, double rate_hz) {
    if (!(rate_hz > 0.0) || !std::isfinite(rate_hz)) {
        throw std::invalid_argument("cannot check the generator frequency against a rate of " +
                                    number(rate_hz) + " Hz");
    }
    check_frequency(frequency_hz, rate_hz);
    frequency_hz_.store(frequency_hz, std::memory_order_relaxed);
}

void Generator::set_level_v_rms(double level_v_rms) {
    check_level(level_v_rms);
    level_v_rms_.store(level_v_rms, std::memory_order_relaxed);
}

void Generator::set_output_on(int channel, bool on) {
    check_channel(channel);
    output_on_[channel].store(on, std::memory_order_relaxed);
}

void Generator::render_v(std::int64_t first_frame, double rate_hz, std::span<double> out_v) const {
    const GeneratorSettings s = settings();
    if (!s.on || !(rate_hz > 0.0) || s.frequency_hz >= rate_hz / 2.0) {
        std::fill(out_v.begin(), out_v.end(), 0.0);
        return;
    }
    const double peak_v = s.level_v_rms * std::numbers::sqrt2;
    const Phase step = phase_increment(s.frequency_hz, rate_hz);
    Phase phase = static_cast<Phase>(first_frame) * step;
    for (double& v : out_v) {
        v = peak_v * sincos_of(phase).sin;
        phase += step;
    }
}

}  // namespace vantel::source
