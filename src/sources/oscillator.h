// SPDX-License-Identifier: MIT
#pragma once

// Cheap, exact-to-the-frame signal primitives for generated sources. Both are functions of the
// absolute frame index alone, so any window can be produced on demand and comes out bit for bit
// the same whatever windows were read before it.
//
// The sine avoids a std::sin per sample: the phase is a 64-bit integer accumulator (exact, so
// frame n's phase is n * increment modulo one turn), split into a 1024-entry table of sin and cos
// and a small remainder whose sine and cosine are short Taylor series. With the remainder
// within +-pi/1024 the truncation errors are below 3e-15, far under any residual we simulate.
//
// The noise avoids Box-Muller: a counter-based generator (SplitMix64's mixer applied to key +
// frame) gives 64 random bits per frame, and the normal deviate comes from a 4096-cell table
// of the normal quantile function with linear interpolation inside a cell; only the two
// outermost cells (1 draw in 2048) evaluate the quantile exactly, so the tails are right.

#include <cstdint>

namespace vantel::source {

// One turn of phase is 2^64.
using Phase = std::uint64_t;

// The phase step per frame for `frequency_hz` at `rate_hz` (frequency below half the rate).
Phase phase_increment(double frequency_hz, double rate_hz);

// A phase from an angle in turns (any real number; the fraction is kept).
Phase phase_of_turns(double turns);

struct SinCos {
    double sin;
    double cos;
};

namespace detail {
inline constexpr int kSineTableBits = 10;
struct SineTable {
    double sin[1 << kSineTableBits];
    double cos[1 << kSineTableBits];
};
const SineTable& sine_table();
}  // namespace detail

inline SinCos sincos_of(Phase phase) {
    constexpr int kShift = 64 - detail::kSineTableBits;
    constexpr Phase kHalfCell = Phase{1} << (kShift - 1);
    constexpr double kRadiansPerUnit = 6.283185307179586476925 / 18446744073709551616.0;
    const detail::SineTable& t = detail::sine_table();
    // The nearest table entry, so that the remainder lies within half a cell either side.
    const auto index = static_cast<std::uint32_t>((phase + kHalfCell) >> kShift) &
                       ((1u << detail::kSineTableBits) - 1);
    const auto rest = static_cast<std::int64_t>(phase - (Phase{index} << kShift));
    const double b = static_cast<double>(rest) * kRadiansPerUnit;
    const double b2 = b * b;
    const double sin_b = b * (1.0 - b2 * (1.0 / 6.0) * (1.0 - b2 * (1.0 / 20.0)));
    const double cos_b = 1.0 - b2 * 0.5 * (1.0 - b2 * (1.0 / 12.0));
    return {t.sin[index] * cos_b + t.cos[index] * sin_b,
            t.cos[index] * cos_b - t.sin[index] * sin_b};
}

// A key that makes one noise stream per seed and channel; streams of different keys are
// independent.
std::uint64_t noise_key(std::uint64_t seed, int channel);

inline std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

inline std::uint64_t random_bits(std::uint64_t key, std::int64_t frame) {
    return mix64(key + static_cast<std::uint64_t>(frame) * 0x9e3779b97f4a7c15ULL);
}

namespace detail {
inline constexpr int kQuantileBits = 12;
// quantile[i] = the normal quantile at i / 4096, for i in 1..4095.
const double* normal_quantile_table();
double normal_from_tail_bits(std::uint64_t bits);
}  // namespace detail

// A standard normal deviate from 64 random bits. Loops fetch the table once and pass it in.
inline double normal_from_bits(std::uint64_t bits, const double* quantiles) {
    constexpr int kShift = 64 - detail::kQuantileBits;
    const auto cell = static_cast<std::uint32_t>(bits >> kShift);
    if (cell == 0 || cell == (1u << detail::kQuantileBits) - 1) [[unlikely]]
        return detail::normal_from_tail_bits(bits);
    const double within = static_cast<double>(bits & ((Phase{1} << kShift) - 1)) * 0x1.0p-52;
    return quantiles[cell] + (quantiles[cell + 1] - quantiles[cell]) * within;
}

inline double normal_from_bits(std::uint64_t bits) {
    return normal_from_bits(bits, detail::normal_quantile_table());
}

// The inverse of the standard normal distribution function, exact to a few ulps, for `u` in
// (0, 1); used to build the table and for the tails.
double normal_quantile(double u);

}  // namespace vantel::source
