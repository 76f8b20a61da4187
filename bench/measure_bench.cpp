// SPDX-License-Identifier: MIT
// The measuring engine's cost per sample, as the analyser runs it: 48 kHz, a reading every
// 200 ms (9600 new samples), one channel on one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "measure/measure.h"

namespace {

using vantel::measure::Band;
using vantel::measure::ChainSettings;
using vantel::measure::ChannelMeter;
using vantel::measure::Curve;
using vantel::measure::Detector;

constexpr double kRateHz = 48000.0;
constexpr std::size_t kSamplesPerReading = 9600;  // 200 ms at 48 kHz

// One second of a 997 Hz tone with a little noise, played round and round.
const std::vector<double>& test_signal() {
    static const std::vector<double> signal = [] {
        std::vector<double> s(static_cast<std::size_t>(kRateHz));
        std::mt19937_64 random(7);
        std::normal_distribution<double> noise(0.0, 1e-4);
        for (std::size_t n = 0; n < s.size(); ++n)
            s[n] =
                0.5 * std::sin(2.0 * std::numbers::pi * 997.0 * static_cast<double>(n) / kRateHz) +
                noise(random);
        return s;
    }();
    return signal;
}

enum class Readings { None, Level, LevelAndThdn };

void run(benchmark::State& state, const ChainSettings& settings, Readings readings) {
    ChannelMeter meter(kRateHz);
    meter.configure(settings);
    const std::vector<double>& signal = test_signal();
    std::size_t offset = 0;
    meter.process(signal);  // a full history, as in steady operation
    for (auto _ : state) {
        meter.process({signal.data() + offset, kSamplesPerReading});
        offset = (offset + kSamplesPerReading) % (signal.size() - kSamplesPerReading);
        if (readings != Readings::None)
            benchmark::DoNotOptimize(meter.level());
        if (readings == Readings::LevelAndThdn)
            benchmark::DoNotOptimize(meter.thdn_ratio());
    }
    const auto samples = static_cast<double>(state.iterations() * kSamplesPerReading);
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    state.counters["ns_per_sample"] = benchmark::Counter(
        samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The analyser's common path: Wide band, A (or no) weighting, RMS, one level() per 200 ms.
void BM_MeasureCommonPathA(benchmark::State& state) {
    run(state, {Band::Wide, Curve::A, Detector::Rms}, Readings::Level);
}
BENCHMARK(BM_MeasureCommonPathA);

void BM_MeasureCommonPathFlat(benchmark::State& state) {
    run(state, {Band::Wide, Curve::Flat, Detector::Rms}, Readings::Level);
}
BENCHMARK(BM_MeasureCommonPathFlat);

// The per-sample part alone of the default path (DC blocker, A-weighting, RMS history).
void BM_MeasureWeightingRmsProcessOnly(benchmark::State& state) {
    run(state, {Band::Wide, Curve::A, Detector::Rms}, Readings::None);
}
BENCHMARK(BM_MeasureWeightingRmsProcessOnly);

// The whole chain: Audio band, weighting, detector, and the THD+N residual (fit of the
// fundamental and band-limited residual) read with the level every 200 ms.
void BM_MeasureWholeChainRms(benchmark::State& state) {
    run(state, {Band::Audio, Curve::A, Detector::Rms}, Readings::LevelAndThdn);
}
BENCHMARK(BM_MeasureWholeChainRms);

void BM_MeasureWholeChainQuasiPeak468(benchmark::State& state) {
    run(state, {Band::Audio, Curve::Ccir468, Detector::QuasiPeak}, Readings::LevelAndThdn);
}
BENCHMARK(BM_MeasureWholeChainQuasiPeak468);

void BM_MeasureWholeChainTruePeak(benchmark::State& state) {
    run(state, {Band::Audio, Curve::A, Detector::TruePeak}, Readings::LevelAndThdn);
}
BENCHMARK(BM_MeasureWholeChainTruePeak);

// The readings alone, as a panel polling 5 times a second pays for them.
void BM_MeasureFrequencyReading(benchmark::State& state) {
    ChannelMeter meter(kRateHz);
    meter.process(test_signal());
    for (auto _ : state)
        benchmark::DoNotOptimize(meter.frequency_hz());
}
BENCHMARK(BM_MeasureFrequencyReading)->Unit(benchmark::kMicrosecond);

}  // namespace
