// SPDX-License-Identifier: MIT
#pragma once

// The arithmetic of the detector's units and weighting filters: how a level in volts RMS, a
// frequency or a ratio becomes a reading in the unit the detector is set to, and how much a
// weighting filter passes of a tone or of white noise.

#include <cstdint>

namespace vantel::sim {

enum class UnitFamily {
    Level,        // a voltage, a power or a level against full scale
    Frequency,    // Hz
    Relative,     // a ratio against the reference the relativity setting picks
    Unsupported,  // published by the analyser, but not a unit this detector reads in
};

UnitFamily family_of(std::int16_t unit);

// Readings never become infinite: a detector resolves nothing below -240 dB (1e-12), so a zero
// level or ratio reads as that floor in the logarithmic units.
inline constexpr double kResolutionFloor = 1e-12;

// References of the logarithmic and power units.
inline constexpr double kDbuReferenceV = 0.7745966692414834;  // sqrt(0.6): 1 mW into 600 ohm
inline constexpr double kDbmLoadOhm = 600.0;
inline constexpr double kWattLoadOhm = 8.0;

// A sine of `v_rms` volts RMS in a level unit. `full_scale_v` is the RMS voltage of a full-scale
// sine on the input in use, the reference of dBFS and %FS. Throws std::invalid_argument for a
// unit outside the level family.
double express_level(double v_rms, std::int16_t unit, double full_scale_v);

// A ratio (1 = equal to the reference) in a relative unit: dB or per cent.
double express_ratio(double ratio, std::int16_t unit);

// Amplitude gain of a weighting filter for a tone of `frequency_hz`, 1 at the filter's
// reference frequency (1 kHz; 2 kHz for the CCIR-468 2k variant). No filter, and a code that is
// no filter, pass everything.
double weighting_gain(std::int16_t weighting, double frequency_hz);

// The share of white noise over the 20 Hz to 20 kHz measurement band that a weighting filter
// passes, as an RMS voltage ratio (about 0.79 for A-weighting, 2.3 for CCIR-468).
double white_noise_gain(std::int16_t weighting);

}  // namespace vantel::sim
