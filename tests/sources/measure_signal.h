// SPDX-License-Identifier: MIT
#pragma once

// Just enough measuring for the sources' tests, written apart from the sources' own oscillator
// and noise: one DFT bin's amplitude, the RMS, a fake clock.

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "sources/sample_source.h"

namespace vantel::source::testing {

class FakeClock {
public:
    MonotonicClock clock() const {
        return [now = now_s_] { return *now; };
    }
    void set(double seconds) { *now_s_ = seconds; }
    void advance(double seconds) { *now_s_ += seconds; }

private:
    std::shared_ptr<double> now_s_ = std::make_shared<double>(0.0);
};

// The peak amplitude of the component at `frequency_hz`, which should fall on a bin.
inline double tone_amplitude(std::span<const double> x, double rate_hz, double frequency_hz) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += x[i] *
               std::polar(1.0, -2.0 * std::numbers::pi *
                                   std::fmod(frequency_hz * static_cast<double>(i) / rate_hz, 1.0));
    return 2.0 * std::abs(sum) / static_cast<double>(x.size());
}

inline double rms(std::span<const double> x) {
    double sum = 0.0;
    for (double s : x)
        sum += s * s;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

}  // namespace vantel::source::testing
