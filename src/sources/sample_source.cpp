// SPDX-License-Identifier: MIT
#include "sources/sample_source.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

namespace vantel::source {

MonotonicClock steady_clock_s() {
    return [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
}

void check_channel(int channel) {
    if (channel != kChannelA && channel != kChannelB)
        throw std::out_of_range("no channel " + std::to_string(channel) + " (0 is A, 1 is B)");
}

std::string unmeasurable_rate(double rate_hz) {
    auto hz = [](double value) {
        char text[40];
        std::snprintf(text, sizeof text, std::abs(value) < 1e15 ? "%.0f Hz" : "%g Hz", value);
        return std::string(text);
    };
    if (!(rate_hz >= kMinRateHz))
        return hz(rate_hz) + " is below the lowest the analyser measures at, " + hz(kMinRateHz);
    if (!(rate_hz <= kMaxRateHz))
        return hz(rate_hz) + " is above the highest the analyser measures at, " + hz(kMaxRateHz);
    return {};
}

void SampleSource::set_full_scale_v_rms(double v_rms) {
    if (!std::isfinite(v_rms) || v_rms <= 0.0)
        throw std::invalid_argument("a full scale must be a finite number of volts above zero");
}

RealTimeFrames::RealTimeFrames(MonotonicClock clock, double rate_hz)
    : clock_(clock ? std::move(clock) : steady_clock_s()), rate_hz_(rate_hz), start_s_(clock_()) {}

std::int64_t RealTimeFrames::now() {
    const double elapsed_s = clock_() - start_s_;
    if (elapsed_s > 0.0) {
        const auto frames = static_cast<std::int64_t>(std::floor(elapsed_s * rate_hz_));
        if (frames > last_)
            last_ = frames;
    }
    return last_;
}

}  // namespace vantel::source
