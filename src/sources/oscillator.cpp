// SPDX-License-Identifier: MIT
#include "sources/oscillator.h"

#include <array>
#include <cmath>
#include <numbers>

namespace vantel::source {

namespace {

constexpr double kTurnUnits = 18446744073709551616.0;  // 2^64

// The normal quantile below the median, by Newton's method on log(Phi(z)) = log(u). log Phi is
// increasing and concave, so from a start left of the root every step lands left of it again
// and the iteration climbs monotonically; sqrt(-2 ln u) is such a start.
double lower_quantile(double u) {
    if (u >= 0.5)
        return 0.0;
    const double log_u = std::log(u);
    double z = -std::sqrt(-2.0 * log_u);
    for (int i = 0; i < 200; ++i) {
        const double cdf = 0.5 * std::erfc(-z * std::numbers::sqrt2 / 2.0);
        const double pdf = std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::numbers::pi);
        const double step = (std::log(cdf) - log_u) * cdf / pdf;
        z -= step;
        if (std::abs(step) <= 1e-15 * std::max(1.0, std::abs(z)))
            break;
    }
    return z;
}

}  // namespace

Phase phase_increment(double frequency_hz, double rate_hz) {
    // In long double (64-bit mantissa on x86), the quotient is good to the step's last unit, so
    // frame n's phase is off by at most n units of 2^-64 turn (1e-9 turn after a week at
    // 48 kHz); a double quotient would be 2^11 times worse.
    const long double turns = static_cast<long double>(frequency_hz) / rate_hz;
    const long double fraction = turns - std::floor(turns);
    const long double units = std::round(std::ldexp(fraction, 64));
    return units >= std::ldexp(1.0L, 64) ? 0 : static_cast<Phase>(units);
}

Phase phase_of_turns(double turns) {
    const double fraction = turns - std::floor(turns);  // in [0, 1]
    const double units = std::round(fraction * kTurnUnits);
    return units >= kTurnUnits ? 0 : static_cast<Phase>(units);
}

const detail::SineTable& detail::sine_table() {
    static const SineTable table = [] {
        SineTable t{};
        constexpr int n = 1 << kSineTableBits;
        for (int i = 0; i < n; ++i) {
            const double angle = 2.0 * std::numbers::pi * i / n;
            t.sin[i] = std::sin(angle);
            t.cos[i] = std::cos(angle);
        }
        return t;
    }();
    return table;
}

std::uint64_t noise_key(std::uint64_t seed, int channel) {
    return mix64(mix64(seed) ^ mix64(0x5851f42d4c957f2dULL + static_cast<std::uint64_t>(channel)));
}

double normal_quantile(double u) {
    return u <= 0.5 ? lower_quantile(u) : -lower_quantile(1.0 - u);
}

const double* detail::normal_quantile_table() {
    static const std::array<double, 1 << kQuantileBits> table = [] {
        std::array<double, 1 << kQuantileBits> q{};
        constexpr int n = 1 << kQuantileBits;
        for (int i = 1; i < n; ++i)
            q[i] = i * 2 <= n ? lower_quantile(static_cast<double>(i) / n)
                              : -lower_quantile(static_cast<double>(n - i) / n);
        return q;
    }();
    return table.data();
}

double detail::normal_from_tail_bits(std::uint64_t bits) {
    constexpr int kShift = 64 - kQuantileBits;
    constexpr double kCells = 1 << kQuantileBits;
    const double within =
        (static_cast<double>(bits & ((Phase{1} << kShift) - 1)) + 0.5) * 0x1.0p-52;
    // The outermost cells hold u in (0, 1/4096) and its mirror; both are evaluated from the
    // lower side, where u keeps its precision down to 1e-19.
    if ((bits >> kShift) == 0)
        return lower_quantile(within / kCells);
    return -lower_quantile((1.0 - within) / kCells);
}

}  // namespace vantel::source
