// SPDX-License-Identifier: MIT
#pragma once

// The one place where the analyser's dynamically typed values become the panel's numbers and
// texts. Every function throws AutomationError naming `member` when the value cannot serve.

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace vantel {

// Nearest whole number, a tie going to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double round_half_even(double x);

// An enumeration code: a whole number that fits 16 signed bits. Empty counts as 0, a Boolean
// as 0 or -1, a double is rounded half to even, a numeric text is parsed.
std::int16_t to_code(const Value& v, std::string_view member = {});

// As to_code, for 32 signed bits (the digital input's frame rate).
std::int32_t to_int32(const Value& v, std::string_view member = {});

// A number: empty counts as 0, a Boolean as 0 or -1, a numeric text is parsed. Not-a-number and
// infinities pass through; whether they are usable is the caller's decision.
double to_double(const Value& v, std::string_view member = {});

// Panel text: a text as it is, empty as the empty text, numbers by number_text, Booleans as
// "True" or "False".
std::string to_text(const Value& v, std::string_view member = {});

// The shortest decimal form with at most 15 significant digits, "." as the decimal point
// whatever the locale: "0.5", "12.3", "1000", "-0.25"; from 1E+15 upwards (and below 1E-04)
// the exponent form "1.235E+15".
std::string number_text(double x);

// The start-up's initialisation test. The value is complemented bit by bit and the wait goes on
// while the result is non-zero: True ends it; False, empty and 1 do not; null ends it too,
// because a null complement is null and null counts as false for a loop.
bool initialisation_done(const Value& v);

}  // namespace vantel
