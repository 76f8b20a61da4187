// SPDX-License-Identifier: MIT
// One update cycle formats one reading; this measures that cost per reading for each path.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "meter/reading_format.h"

namespace {

// Every decade from nano to giga and beyond, both signs, ties, zero and the over-range cases.
constexpr std::array<double, 24> readings{
    0.0,   1.5,   -0.0123, 1234.5678, 0.000987654, 2.5e-8,     -0.5,   999.96,
    1.2e7, 1e-12, 12.3456, -12345.0,  999950.0,    1.2346e15,  0.0004, -0.25,
    255.4, -1.0,  3.5e9,   -7.2e-7,   0.0125,      2147483647, 4.4e-4, 60.0};

void run(benchmark::State& state, vantel::UnitClass unit_class, const char* unit) {
    std::size_t i = 0;
    for (auto _ : state) {
        vantel::DisplayText text = vantel::format_reading(readings[i], unit_class, unit);
        benchmark::DoNotOptimize(text);
        i = (i + 1) % readings.size();
    }
}

void BM_FormatRanged(benchmark::State& state) {
    run(state, vantel::UnitClass::Ranged, "V");
}
void BM_FormatPlain(benchmark::State& state) {
    run(state, vantel::UnitClass::Plain, "V RMS");
}
void BM_FormatHex(benchmark::State& state) {
    run(state, vantel::UnitClass::Hex, "Hex");
}

BENCHMARK(BM_FormatRanged);
BENCHMARK(BM_FormatPlain);
BENCHMARK(BM_FormatHex);

}  // namespace
