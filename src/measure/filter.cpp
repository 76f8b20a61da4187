// SPDX-License-Identifier: MIT
#include <algorithm>
#include <stdexcept>

#include "measure/measure.h"

namespace vantel::measure {

WeightingFilter::WeightingFilter(const FilterDesign& design)
    : sections_(design.sections), state_(design.sections.size()) {}

void WeightingFilter::reset() {
    std::fill(state_.begin(), state_.end(), State{});
}

// Transposed direct form II, all sections per sample: the sections of one sample overlap in
// the processor with those of the next, where a section-by-section pass would wait on each
// section's feedback in turn.
void WeightingFilter::process(std::span<const double> in, std::span<double> out) {
    if (out.size() < in.size())
        throw std::invalid_argument("WeightingFilter::process: output shorter than input");
    const std::size_t count = sections_.size();
    if (count == 0) {
        std::copy(in.begin(), in.end(), out.begin());
        return;
    }
    const Biquad* s = sections_.data();
    State* st = state_.data();
    for (std::size_t n = 0; n < in.size(); ++n) {
        double x = in[n];
        for (std::size_t k = 0; k < count; ++k) {
            const double y = s[k].b0 * x + st[k].s1;
            st[k].s1 = s[k].b1 * x - s[k].a1 * y + st[k].s2;
            st[k].s2 = s[k].b2 * x - s[k].a2 * y;
            x = y;
        }
        out[n] = x;
    }
}

}  // namespace vantel::measure
