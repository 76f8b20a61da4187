// SPDX-License-Identifier: MIT
#pragma once

// Just enough measuring for the sources' tests: an in-band RMS by FFT and Parseval, and the
// amplitude of one DFT bin. Written independently of the sources' own oscillator and noise.

#include <cmath>
#include <complex>
#include <cstddef>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "sources/sample_source.h"

namespace vantel::source::testing {

// A monotonic clock the test moves by hand.
class FakeClock {
public:
    MonotonicClock clock() const {
        return [now = now_s_] { return *now; };
    }
    void set(double seconds) { *now_s_ = seconds; }

private:
    std::shared_ptr<double> now_s_ = std::make_shared<double>(0.0);
};

inline void fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();  // a power of two
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        for (std::size_t start = 0; start < n; start += len) {
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
                const std::complex<double> a = x[start + k];
                const std::complex<double> b = x[start + k + len / 2] * w;
                x[start + k] = a + b;
                x[start + k + len / 2] = a - b;
            }
        }
    }
}

// The RMS of the part of `samples` between `low_hz` and `high_hz` (a power-of-two length).
inline double band_rms(std::span<const double> samples, double rate_hz, double low_hz,
                       double high_hz) {
    std::vector<std::complex<double>> x(samples.begin(), samples.end());
    fft(x);
    const auto n = static_cast<double>(x.size());
    double power = 0.0;
    for (std::size_t k = 1; k < x.size() / 2; ++k) {
        const double f = static_cast<double>(k) * rate_hz / n;
        if (f >= low_hz && f <= high_hz)
            power += 2.0 * std::norm(x[k]) / (n * n);  // the bin and its mirror
    }
    return std::sqrt(power);
}

// The peak amplitude of the component at `frequency_hz`, which should fall on a bin.
inline double tone_amplitude(std::span<const double> samples, double rate_hz, double frequency_hz) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double angle = -2.0 * std::numbers::pi *
                             std::fmod(frequency_hz * static_cast<double>(i) / rate_hz, 1.0);
        sum += samples[i] * std::polar(1.0, angle);
    }
    return 2.0 * std::abs(sum) / static_cast<double>(samples.size());
}

inline double rms(std::span<const double> samples) {
    double sum = 0.0;
    for (double s : samples)
        sum += s * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace vantel::source::testing
