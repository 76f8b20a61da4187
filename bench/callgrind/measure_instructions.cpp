// SPDX-License-Identifier: MIT
// The engine's chains as the wall-clock benchmarks run them (48 kHz, a reading every 200 ms, a
// 997 Hz tone with a little noise, one second of history first), for callgrind, whose counts
// stand still on a loaded machine where wall time does not:
//
//   valgrind --tool=callgrind --toggle-collect='*measure_readings*'
//            vantel-measure-instructions CHAIN READINGS
//
// counts the instructions of READINGS readings alone; divide by READINGS x 9600 for a sample's.
// CHAIN: common (Wide band, A, RMS, the level), flat (Wide band, no weighting, RMS, the level),
// rms, qpeak (CCIR-468) and peak (the Audio band, A or CCIR-468, the level and THD+N).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string_view>
#include <vector>

#include "measure/measure.h"

namespace {

using namespace vantel::measure;

constexpr double kRateHz = 48000.0;
constexpr std::size_t kSamplesPerReading = 9600;

[[gnu::noinline]] void measure_readings(ChannelMeter& meter, const std::vector<double>& signal,
                                        int readings, bool with_thdn) {
    std::size_t offset = 0;
    volatile double sink = 0.0;
    for (int i = 0; i < readings; ++i) {
        meter.process({signal.data() + offset, kSamplesPerReading});
        offset = (offset + kSamplesPerReading) % (signal.size() - kSamplesPerReading);
        sink = meter.level();
        if (with_thdn)
            sink = meter.thdn_ratio();
    }
    (void)sink;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view chain = argc > 1 ? argv[1] : "";
    const int readings = argc > 2 ? std::atoi(argv[2]) : 0;
    ChainSettings settings;
    bool with_thdn = true;
    if (chain == "common") {
        settings = {Band::Wide, Curve::A, Detector::Rms};
        with_thdn = false;
    } else if (chain == "flat") {
        settings = {Band::Wide, Curve::Flat, Detector::Rms};
        with_thdn = false;
    } else if (chain == "rms") {
        settings = {Band::Audio, Curve::A, Detector::Rms};
    } else if (chain == "qpeak") {
        settings = {Band::Audio, Curve::Ccir468, Detector::QuasiPeak};
    } else if (chain == "peak") {
        settings = {Band::Audio, Curve::A, Detector::TruePeak};
    } else {
        std::fprintf(stderr, "usage: vantel-measure-instructions common|flat|rms|qpeak|peak N\n");
        return 2;
    }
    if (readings <= 0) {
        std::fprintf(stderr, "READINGS must be a whole number above 0\n");
        return 2;
    }
    std::vector<double> signal(static_cast<std::size_t>(kRateHz));
    std::mt19937_64 random(7);
    std::normal_distribution<double> noise(0.0, 1e-4);
    for (std::size_t n = 0; n < signal.size(); ++n)
        signal[n] =
            0.5 * std::sin(2.0 * std::numbers::pi * 997.0 * static_cast<double>(n) / kRateHz) +
            noise(random);
    ChannelMeter meter(kRateHz);
    meter.configure(settings);
    meter.process(signal);  // a full history, as in steady operation
    measure_readings(meter, signal, readings, with_thdn);
    return 0;
}
