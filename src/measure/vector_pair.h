// SPDX-License-Identifier: MIT
#pragma once

// Two doubles in one vector register, through GCC and Clang's vector extension: SSE2 on x86-64
// (every x86-64 has it), a plain pair of doubles on a processor without vectors. The engine's
// inner loops (the filter cascade, the quasi-peak's oversampling, the peak scans) use it where
// the compiler would not vectorise by itself: a reduction over doubles, or lanes that must be
// shuffled between steps.

#include <cstdint>
#include <cstring>

namespace vantel::measure {

typedef double Pair __attribute__((vector_size(2 * sizeof(double))));

inline Pair load_pair(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store_pair(double* p, Pair v) {
    std::memcpy(p, &v, sizeof v);
}

// |v| lane by lane: the sign bits cleared.
inline Pair magnitude(Pair v) {
    typedef std::uint64_t Bits __attribute__((vector_size(2 * sizeof(double))));
    constexpr std::uint64_t kAllButSign = ~(std::uint64_t{1} << 63);
    return reinterpret_cast<Pair>(reinterpret_cast<Bits>(v) & Bits{kAllButSign, kAllButSign});
}

inline Pair max_of(Pair a, Pair b) {
    return a > b ? a : b;
}

}  // namespace vantel::measure
