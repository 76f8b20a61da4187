// SPDX-License-Identifier: MIT
#pragma once

// The function knob's positions, from left to right: Amplitude, Balance, Cross-talk, Noise,
// THD+N, and Other for any function the panel does not offer. The knob keeps no position of its
// own: the function display's caption (the analyser's function name, or the design-time
// "Selected Function" until the first poll) decides where it stands. Names compare exactly and
// case-sensitively, with no trimming.

#include <array>
#include <string_view>

namespace vantel {

// What the five function keys write into the detector, indexed by knob position 0 to 4. Every
// noise variant is entered as A-weighted noise.
inline constexpr std::array<std::string_view, 5> function_key_names{
    "Amplitude", "Balance", "Cross-talk", "Noise (A-weighted)", "THD+N - relative"};

// Index of the lit lamp of the function knob (0 to 5, left to right) for a function name; 5 is
// "Other".
int function_lamp(std::string_view function_name);

// The name the knob writes on a step. Left wraps from Amplitude to THD+N and right from THD+N to
// Amplitude; from "Other" a left step lands on THD+N and a right step on Amplitude, so the knob
// never selects "Other" itself.
std::string_view knob_step_left(std::string_view current);
std::string_view knob_step_right(std::string_view current);

}  // namespace vantel
