// SPDX-License-Identifier: MIT
#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "measure/measure.h"

namespace vantel::measure {

WeightingFilter::WeightingFilter(const FilterDesign& design)
    : sections_(design.sections),
      state1_(design.sections.size(), 0.0),
      state2_(design.sections.size(), 0.0) {}

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
        const Biquad& s = sections_[k];
        const double y = x * (s.b0 + s.b1 + s.b2) / (1.0 + s.a1 + s.a2);
        state2_[k] = s.b2 * x - s.a2 * y;
        state1_[k] = y - s.b0 * x;
        x = y;
    }
}

namespace {

// Transposed direct form II, all sections per sample: the sections of one sample overlap in the
// processor with those of the next, where a section-by-section pass would wait on each
// section's feedback in turn. A fixed count keeps the states in registers.
template <std::size_t Count>
void run_cascade(const Biquad* s, double* s1, double* s2, std::span<const double> in,
                 std::span<double> out) {
    std::array<double, Count> z1, z2;
    for (std::size_t k = 0; k < Count; ++k) {
        z1[k] = s1[k];
        z2[k] = s2[k];
    }
    for (std::size_t n = 0; n < in.size(); ++n) {
        double x = in[n];
        for (std::size_t k = 0; k < Count; ++k) {
            const double y = s[k].b0 * x + z1[k];
            z1[k] = s[k].b1 * x - s[k].a1 * y + z2[k];
            z2[k] = s[k].b2 * x - s[k].a2 * y;
            x = y;
        }
        out[n] = x;
    }
    for (std::size_t k = 0; k < Count; ++k) {
        s1[k] = z1[k];
        s2[k] = z2[k];
    }
}

template <std::size_t... Counts>
void dispatch(std::size_t count, const Biquad* s, double* s1, double* s2,
              std::span<const double> in, std::span<double> out, std::index_sequence<Counts...>) {
    // Cascades longer than the largest instance run in pieces of it.
    constexpr std::size_t kLargest = sizeof...(Counts);
    while (count > kLargest) {
        run_cascade<kLargest>(s, s1, s2, in, out);
        s += kLargest;
        s1 += kLargest;
        s2 += kLargest;
        count -= kLargest;
        in = out;
    }
    ((count == Counts + 1 ? run_cascade<Counts + 1>(s, s1, s2, in, out) : void()), ...);
}

}  // namespace

void WeightingFilter::process(std::span<const double> in, std::span<double> out) {
    if (out.size() < in.size())
        throw std::invalid_argument("WeightingFilter::process: output shorter than input");
    if (sections_.empty()) {
        std::copy(in.begin(), in.end(), out.begin());
        return;
    }
    dispatch(sections_.size(), sections_.data(), state1_.data(), state2_.data(), in,
             out.first(in.size()), std::make_index_sequence<12>{});
}

}  // namespace vantel::measure
