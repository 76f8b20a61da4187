// SPDX-License-Identifier: MIT
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>

namespace vantel::measure {

// Solves the small dense system a x = b by Gaussian elimination with partial pivoting, leaving x
// in b. False when a is singular. Takes fixed arrays (the sine fits, which must not allocate) and
// vectors (the filter designs) alike.
template <typename Matrix, typename Vector>
bool solve_in_place(Matrix a, Vector& b) {
    const std::size_t n = b.size();
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::abs(a[r][col]) > std::abs(a[pivot][col]))
                pivot = r;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        if (a[col][col] == 0)
            return false;
        for (std::size_t r = col + 1; r < n; ++r) {
            const auto f = a[r][col] / a[col][col];
            for (std::size_t c = col; c < n; ++c)
                a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (std::size_t r = n; r-- > 0;) {
        auto v = b[r];
        for (std::size_t c = r + 1; c < n; ++c)
            v -= a[r][c] * b[c];
        b[r] = v / a[r][r];
    }
    return true;
}

}  // namespace vantel::measure
