// SPDX-License-Identifier: MIT
#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "measure/measure.h"
#include "measure/vector_pair.h"

namespace vantel::measure {

WeightingFilter::WeightingFilter(const FilterDesign& design)
    : state1_(design.sections.size(), 0.0), state2_(design.sections.size(), 0.0) {
    for (const Biquad& b : design.sections)
        sections_.push_back({b.b0, b.b1, b.b2, -b.a1, -b.a2});
}

void WeightingFilter::reset() {
    std::fill(state1_.begin(), state1_.end(), 0.0);
    std::fill(state2_.begin(), state2_.end(), 0.0);
}

void WeightingFilter::settle(double input) {
    // Transposed direct form II at rest with input x and output y = G x, G = B(1) / A(1):
    // z2 = b2 x - a2 y and z1 = y - b0 x. Every section's poles lie inside the unit circle, so
    // A(1) is never 0.
    double x = input;
    for (std::size_t k = 0; k < sections_.size(); ++k) {
        const Section& s = sections_[k];
        const double y = x * (s.b0 + s.b1 + s.b2) / (1.0 - s.minus_a1 - s.minus_a2);
        state2_[k] = s.b2 * x + s.minus_a2 * y;
        state1_[k] = y - s.b0 * x;
        x = y;
    }
}

namespace {

using Section = WeightingFilter::Section;

// A section in transposed direct form II, with the products ordered so that the path from one
// output to the next is a product and two sums.
template <typename T>
[[gnu::always_inline]] inline T section_step(T x, T b0, T b1, T b2, T minus_a1, T minus_a2, T& z1,
                                             T& z2) {
    const T y = b0 * x + z1;
    const T u = b1 * x + z2;
    z1 = u + minus_a1 * y;
    z2 = b2 * x + minus_a2 * y;
    return y;
}

// The steps from `t` to the block's end with every section at work, two sections to a
// register; the states come in and go out as plain arrays, so that inside they stay in
// registers. Returns the block's length.
template <int Pairs>
[[gnu::always_inline]] inline std::ptrdiff_t run_pairs_steady(
    const std::array<Section, 2 * Pairs>& sec, std::array<double, 2 * Pairs>& z1_out,
    std::array<double, 2 * Pairs>& z2_out, std::array<double, 2 * Pairs>& y_out,
    std::span<const double> in, std::span<double> out, std::ptrdiff_t t) {
    constexpr std::ptrdiff_t kLag = 2 * Pairs - 1;
    Pair b0[Pairs], b1[Pairs], b2[Pairs], ma1[Pairs], ma2[Pairs], z1[Pairs], z2[Pairs], y[Pairs];
    for (int m = 0; m < Pairs; ++m) {
        const Section& lo = sec[2 * m];
        const Section& hi = sec[2 * m + 1];
        b0[m] = Pair{lo.b0, hi.b0};
        b1[m] = Pair{lo.b1, hi.b1};
        b2[m] = Pair{lo.b2, hi.b2};
        ma1[m] = Pair{lo.minus_a1, hi.minus_a1};
        ma2[m] = Pair{lo.minus_a2, hi.minus_a2};
        z1[m] = Pair{z1_out[2 * m], z1_out[2 * m + 1]};
        z2[m] = Pair{z2_out[2 * m], z2_out[2 * m + 1]};
        y[m] = Pair{y_out[2 * m], y_out[2 * m + 1]};
    }
    const auto n = static_cast<std::ptrdiff_t>(in.size());
    for (; t < n; ++t) {
        // Each pair's inputs: the predecessors' outputs of the step before, gathered by a
        // shuffle of registers (lanes stored and loaded apart would wait on the store).
        Pair x[Pairs];
        const double sample = in[static_cast<std::size_t>(t)];
        x[0] = __builtin_shufflevector(Pair{sample, sample}, y[0], 0, 2);
        for (int m = 1; m < Pairs; ++m)
            x[m] = __builtin_shufflevector(y[m - 1], y[m], 1, 2);
        for (int m = 0; m < Pairs; ++m)
            y[m] = section_step(x[m], b0[m], b1[m], b2[m], ma1[m], ma2[m], z1[m], z2[m]);
        out[static_cast<std::size_t>(t - kLag)] = y[Pairs - 1][1];
    }
    for (int m = 0; m < Pairs; ++m) {
        for (int l = 0; l < 2; ++l) {
            z1_out[2 * m + l] = z1[m][l];
            z2_out[2 * m + l] = z2[m][l];
            y_out[2 * m + l] = y[m][l];
        }
    }
    return t;
}

// The cascade of up to 2 Pairs sections, two at a time. A section's next sample waits on its own
// last one, so a cascade run sample by sample is bound by how many products the processor
// retires, not by any one section. Here section j works on sample t - j at step t ("skewed"),
// so that sections 2m and 2m + 1 can share a vector register: each step, every section takes
// its input from the output its predecessor gave in the step before. The first and last
// 2 Pairs - 1 steps, where the skew runs off either end of the block, go section by section.
template <int Pairs>
void run_pairs(const Section* s, std::size_t count, double* s1, double* s2,
               std::span<const double> in, std::span<double> out) {
    constexpr int kSections = 2 * Pairs;
    constexpr int kLag = kSections - 1;  // the last section works on sample t - kLag
    // Padded with sections that pass their input through: b0 = 1, nothing else, no state.
    std::array<Section, kSections> sec;
    std::array<double, kSections> z1{}, z2{}, y{};
    for (int j = 0; j < kSections; ++j) {
        const auto k = static_cast<std::size_t>(j);
        sec[k] = k < count ? s[k] : Section{1.0, 0.0, 0.0, 0.0, 0.0};
        if (k < count) {
            z1[k] = s1[k];
            z2[k] = s2[k];
        }
    }
    const auto n = static_cast<std::ptrdiff_t>(in.size());
    // One step section by section, the late ones first so that each reads its predecessor's
    // output of the step before; sections outside the block's samples wait.
    auto step_one_by_one = [&](std::ptrdiff_t t) {
        for (int j = kSections - 1; j >= 0; --j) {
            const std::ptrdiff_t sample = t - j;
            if (sample < 0 || sample >= n)
                continue;
            const auto k = static_cast<std::size_t>(j);
            const double x = j == 0 ? in[static_cast<std::size_t>(sample)] : y[k - 1];
            y[k] = section_step(x, sec[k].b0, sec[k].b1, sec[k].b2, sec[k].minus_a1,
                                sec[k].minus_a2, z1[k], z2[k]);
            if (j == kLag)
                out[static_cast<std::size_t>(sample)] = y[k];
        }
    };

    std::ptrdiff_t t = 0;
    for (; t < std::min<std::ptrdiff_t>(kLag, n); ++t)
        step_one_by_one(t);
    if (t < n)
        t = run_pairs_steady<Pairs>(sec, z1, z2, y, in, out, t);
    for (; t < n + kLag; ++t)
        step_one_by_one(t);
    for (std::size_t k = 0; k < count; ++k) {
        s1[k] = z1[k];
        s2[k] = z2[k];
    }
}

// Up to 12 sections in one pass (sized to the count, so the states stay in registers); longer
// cascades run in pieces of 12, in place after the first.
void run_sections(std::size_t count, const Section* s, double* s1, double* s2,
                  std::span<const double> in, std::span<double> out) {
    constexpr std::size_t kLargest = 12;
    while (count > 0) {
        const std::size_t piece = std::min(count, kLargest);
        switch ((piece + 1) / 2) {
            case 1:
                run_pairs<1>(s, piece, s1, s2, in, out);
                break;
            case 2:
                run_pairs<2>(s, piece, s1, s2, in, out);
                break;
            case 3:
                run_pairs<3>(s, piece, s1, s2, in, out);
                break;
            case 4:
                run_pairs<4>(s, piece, s1, s2, in, out);
                break;
            case 5:
                run_pairs<5>(s, piece, s1, s2, in, out);
                break;
            default:
                run_pairs<6>(s, piece, s1, s2, in, out);
                break;
        }
        s += piece;
        s1 += piece;
        s2 += piece;
        count -= piece;
        in = out;
    }
}

}  // namespace

void WeightingFilter::process(std::span<const double> in, std::span<double> out) {
    if (out.size() < in.size())
        throw std::invalid_argument("WeightingFilter::process: output shorter than input");
    if (sections_.empty()) {
        std::copy(in.begin(), in.end(), out.begin());
        return;
    }
    run_sections(sections_.size(), sections_.data(), state1_.data(), state2_.data(), in,
                 out.first(in.size()));
}

}  // namespace vantel::measure
