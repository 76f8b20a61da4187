// SPDX-License-Identifier: MIT
#pragma once

// The arithmetic of the detector's units: how a level in volts RMS, a frequency or a ratio
// becomes a reading in the unit the detector is set to.

#include <cstdint>

namespace vantel::instrument {

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

}  // namespace vantel::instrument
