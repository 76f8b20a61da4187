// SPDX-License-Identifier: MIT
#pragma once

// The weighting curves in closed form, in dB, written apart from the engine's filter designs:
// IEC 61672-1 Annex E's A curve, 0 dB at 1 kHz (the standards README's poles and A1000), and
// ITU-R BS.468-4's network in its s-plane form (the README's poles), 0 dB at `unity_hz`.

#include <cmath>
#include <complex>
#include <numbers>

namespace vantel::testing_support {

inline double a_weighting_db(double f) {
    constexpr double f1 = 20.598997057618316, f2 = 107.65264864304629, f3 = 737.8622307362901,
                     f4 = 12194.217147998012;
    const double f_2 = f * f;
    return 20.0 * std::log10(f4 * f4 * f_2 * f_2 /
                             ((f_2 + f1 * f1) * std::sqrt(f_2 + f2 * f2) *
                              std::sqrt(f_2 + f3 * f3) * (f_2 + f4 * f4))) +
           1.999655535667262;
}

inline double ccir468_db(double frequency_hz, double unity_hz = 1000.0) {
    const std::complex<double> poles[] = {{-25903.70104781628, 0.0},
                                          {-23615.53521363528, 36379.90893732929},
                                          {-23615.53521363528, -36379.90893732929},
                                          {-18743.74669072136, 62460.15645250649},
                                          {-18743.74669072136, -62460.15645250649},
                                          {-62675.1700584679, 0.0}};
    auto magnitude = [&](double f) {
        const std::complex<double> s(0.0, 2.0 * std::numbers::pi * f);
        std::complex<double> h = s;
        for (const auto& p : poles)
            h /= s - p;
        return std::abs(h);
    };
    return 20.0 * std::log10(magnitude(frequency_hz) / magnitude(unity_hz));
}

}  // namespace vantel::testing_support
