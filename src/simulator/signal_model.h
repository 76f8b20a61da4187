// SPDX-License-Identifier: MIT
#pragma once

// What the simulated analyser measures: a sine generator feeding a two-channel device under test
// (gain, noise, distortion, cross-talk and a slow gain drift), seen through the input the
// analyser is set to, the function, the weighting filter and the response, and expressed in the
// detector's unit. Deterministic: all randomness comes from one seeded Rng, time from the caller.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>

#include "simulator/constants.h"
#include "simulator/functions.h"

namespace vantel::sim {

// Uniform and normal deviates from a seeded 64-bit Mersenne twister. The draws are made here
// rather than with <random>'s distributions, whose output differs between standard libraries.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    double uniform();  // in [0, 1)
    double normal();   // mean 0, standard deviation 1

private:
    std::mt19937_64 engine_;
};

enum class Channel { A, B };
constexpr std::size_t index(Channel c) {
    return c == Channel::A ? 0 : 1;
}
constexpr Channel other(Channel c) {
    return c == Channel::A ? Channel::B : Channel::A;
}

// One channel of a device: what it does to the generator's sine.
struct ChannelModel {
    double gain = 1.0;        // output volts per input volt
    double noise_v = 30e-6;   // output noise, V RMS, unweighted over 20 Hz to 20 kHz
    double thd = 1.5e-5;      // harmonic distortion against the fundamental (0.0015 %)
    double crosstalk = 1e-5;  // leakage from the other channel (-100 dB)
};

struct SignalSettings {
    double generator_level_v = 1.0;  // sine, V RMS
    double generator_frequency_hz = 1000.0;
    // The device under test: channel A a touch above unity gain and B a touch below (+-0.05 dB),
    // so that balance reads about 0.1 dB off zero.
    std::array<ChannelModel, 2> dut{ChannelModel{1.006, 30e-6, 1.5e-5, 1e-5},
                                    ChannelModel{0.994, 33e-6, 2e-5, 1.26e-5}};
    // The analyser's own generator looped back to its inputs: no device in the way.
    ChannelModel loopback{1.0, 2e-6, 3e-6, 1e-7};
    // Random wander of each reading, as a relative standard deviation: small for a tone, larger
    // for noise and residuals, which fluctuate over a 200 ms window.
    double reading_noise = 5e-4;
    double noise_wander = 0.03;
    // The device's gain drifts slowly (relative amplitude, period), so that a panel polling
    // every 200 ms sees its minimum and maximum move apart.
    double drift = 2e-3;
    double drift_period_s = 30.0;
    double analogue_full_scale_v = 10.0;  // V RMS of a full-scale sine on the analogue inputs
    double digital_full_scale_v = 1.0;    // volts a full-scale digital sine is reported as
};

// SignalAnalyzer.SA_Source codes; the analyser publishes no names for them.
inline constexpr std::int16_t kAnalogueDomain = 0;
inline constexpr std::int16_t kDigitalDomain = 1;

// Everything the analyser is set to, as plain data. Instrument keeps it consistent.
struct AnalyserSettings {
    const MeasurementFunction* function = find_function("Amplitude");
    std::int16_t unit = code_of("UNIT_V");
    std::int16_t last_level_unit = code_of("UNIT_V");  // where a return to absolute goes
    std::int16_t weighting = code_of("CTD_WEIGHTING_DEFAULT");
    std::int16_t response = code_of("CTD_RESPONSE_RMS");
    std::int16_t relativity = code_of("CTD_RELATIVITY_ABS");
    std::int16_t input_domain = kAnalogueDomain;
    std::int16_t default_weighting = code_of("CTD_WEIGHTING_AWEIGHTING");
    std::int16_t analogue_source = code_of("AI_SOURCE_BAL_UNBAL");
    std::int16_t digital_source = code_of("DI_SOURCE_XLR");
    // Per connector; 0 Hz means nothing is connected there and the input is unlocked.
    std::map<std::int16_t, std::int32_t> frame_rates_hz{
        {code_of("DI_SOURCE_XLR"), 48000},     {code_of("DI_SOURCE_BNC"), 0},
        {code_of("DI_SOURCE_TOSLINK"), 44100}, {code_of("DI_SOURCE_GENXLR"), 48000},
        {code_of("DI_SOURCE_GENBNC"), 96000},
    };
    // Each channel's quantity when self-relative measurement was switched on.
    std::array<double, 2> self_reference{1.0, 1.0};

    std::int32_t frame_rate_hz() const;  // of the selected connector
};

// What a channel measures before it is expressed in a unit.
struct Quantity {
    double value = 0.0;      // volts RMS; Hz for the frequency function
    double reference = 0.0;  // what a ratio function measures it against, in the same unit
};

class SignalModel {
public:
    // Draws each channel's drift phase from `rng`.
    explicit SignalModel(Rng& rng);

    SignalSettings settings;

    // The channel's quantity at `t_s` seconds after switch-on, without the reading's wander.
    Quantity quantity(const AnalyserSettings& s, Channel ch, double t_s) const;

    // One reading of the channel in the detector's unit, wander included.
    double reading(const AnalyserSettings& s, Channel ch, double t_s, Rng& rng) const;

private:
    struct Path;  // what reaches the detector on one channel
    Path path(const AnalyserSettings& s, Channel ch, double t_s) const;
    Path device(Channel ch, double t_s) const;
    Path loopback() const;
    double ratio(const AnalyserSettings& s, Channel ch, const Quantity& q, double t_s) const;

    std::array<double, 2> drift_phase_{};
    std::map<std::int16_t, double> noise_gain_;  // by weighting code
};

}  // namespace vantel::sim
