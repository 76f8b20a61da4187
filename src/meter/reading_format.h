// SPDX-License-Identifier: MIT
#pragma once

// How a raw detector reading becomes the text of a meter display: four significant figures, an
// engineering range prefix for the ranged units (mV, kHz), a display five characters wide for a
// positive reading and six for a negative one, and the over-range marks "OVER" and "!". Texts
// are UTF-8 and never depend on the C or Qt locale.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "meter/constant_reader.h"

namespace vantel {

// Which path a unit's readings take: a range prefix (s, Hz, V peak, V p-p, W, V), hexadecimal
// digits, or the number as it is (dBu, %, V RMS, ...).
enum class UnitClass { Ranged, Hex, Plain };

struct DisplayText {
    std::string reading;  // main reading label
    std::string unit;     // its unit label; the micro prefix is U+00B5
};

// The texts that the main reading label and its unit label get in one update cycle. `unit_text`
// is the unprefixed unit word (interpret_units). A reading that is not a finite number, or a
// hexadecimal reading that does not fit 32 signed bits, shows "OVER" with the unprefixed unit
// rather than stopping the panel. A ranged reading too small for any decade (0 among them)
// shows the unprefixed unit too.
DisplayText format_reading(double reading, UnitClass unit_class, std::string_view unit_text);

// `x` rounded to `sig_figs` significant figures. Mode 0 rounds down (towards minus infinity),
// 1 to the nearest with ties to even, 2 takes the next whole step above the floor (so a value
// already on a step still goes up one); any other mode leaves the figures unrounded. 0 gives 0;
// infinities, NaN and values too small to scale come back unchanged.
double RoundtoSigFigs(double x, int sig_figs, int mode);

// The reading scaled into its engineering decade: [1, 1000) for magnitudes from 1E-9 up to
// 1E+9, and above 1 beyond. Nothing (an empty display) below 1E-9, for 0 and for NaN.
std::optional<double> Autorange_reading(double reading);

// The decade prefix of `reading` ("G", "M", "k", "", "m", "\u00B5", "n") followed by `unit`,
// decided on the same raw reading as Autorange_reading so the two always agree, even when
// rounding then carries the number to 1000. Nothing where Autorange_reading gives nothing.
std::optional<std::string> Autorange_Units(double reading, std::string_view unit);

// Fills `text` with a point and zeros to 5 characters when `current_reading` is above 0 and to
// 6 when it is below 0 (room for the sign); 0 is left alone. The sign comes from the reading,
// not from the text, which on the ranged path holds the scaled number. A text still longer than
// 6 characters is cut to 5 followed by "!" if it has a point, else replaced by "OVER".
std::string Pad_Reading(std::string text, double current_reading);

// Uppercase hexadecimal digits of the reading rounded to the nearest whole number (ties to
// even), a negative one as its 32-bit two's complement: "FF", "0", "FFFFFFFF" for -1. Nothing
// when the rounded reading does not fit 32 signed bits or is not a number.
std::optional<std::string> hex_text(double reading);

// Which formatting path a unit code takes: compared with the analyser's constants read through
// `constant` in the order UNIT_SECONDS, UNIT_FREQ_HZ, UNIT_VP, UNIT_VPP, UNIT_W, UNIT_V (the
// first match is Ranged), then UNIT_HEX; reads stop at the first match. Reader failures pass up.
UnitClass classify_unit(std::int16_t unit, const ConstantReader& constant);

}  // namespace vantel
