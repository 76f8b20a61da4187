// SPDX-License-Identifier: MIT
#pragma once

// Just enough measuring for the sources' tests, written apart from the sources' own oscillator
// and noise: an in-band RMS by FFT and Parseval, one DFT bin's amplitude, a fake clock.

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

// The RMS of what lies between `low_hz` and `high_hz`; `x` has a power-of-two length.
inline double band_rms(std::span<const double> samples, double rate_hz, double low_hz,
                       double high_hz) {
    std::vector<std::complex<double>> x(samples.begin(), samples.end());
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {  // radix-2 FFT, bit-reversed order first
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        if (i < (j ^= bit))
            std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        for (std::size_t k = 0; k < len / 2; ++k) {
            const auto w = std::polar(
                1.0, -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(len));
            for (std::size_t at = k; at < n; at += len) {
                const std::complex<double> b = x[at + len / 2] * w;
                x[at + len / 2] = x[at] - b;
                x[at] += b;
            }
        }
    }
    double power = 0.0;
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double f = static_cast<double>(k) * rate_hz / static_cast<double>(n);
        if (f >= low_hz && f <= high_hz)
            power += 2.0 * std::norm(x[k]) / static_cast<double>(n * n);  // bin and mirror
    }
    return std::sqrt(power);
}

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
