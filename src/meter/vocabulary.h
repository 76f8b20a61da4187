// SPDX-License-Identifier: MIT
#pragma once

// The words the panel shows for the analyser's enumeration codes. Each vocabulary reads the
// member values through `constant` one by one in its own fixed order and stops at the first equal
// one, so a code that two members share takes the word of the earlier member. Nothing is cached;
// a failing reader fails the lookup.

#include <cstdint>
#include <string>

#include "meter/constant_reader.h"

namespace vantel {

// Unit text for the detector's unit code ("V RMS", "dBu", "\u00B5s"); -1 is "Invalid" without
// asking the analyser, a code no member has is shown as its decimal number.
std::string interpret_units(std::int16_t unit, const ConstantReader& constant);

// Status words; a code no member has is shown as its decimal number...
std::string interpret_weighting(std::int16_t code, const ConstantReader& constant);
std::string interpret_response(std::int16_t code, const ConstantReader& constant);
std::string interpret_relativity(std::int16_t code, const ConstantReader& constant);
std::string interpret_digital_input(std::int16_t code, const ConstantReader& constant);
// ...except for the analogue input source, which says "Unknown input".
std::string interpret_analogue_input(std::int16_t code, const ConstantReader& constant);

// What the analyser's status flags (SignalAnalyzer.SA_Status) say of a reading.
struct StatusText {
    // The most serious flag's word for the display ("NO INPUT", "NaN", "OVLD", "DROP",
    // "SETTLE", "UNCAL", in that order of seriousness); empty when all is well.
    std::string annunciator;
    // Every flag raised, in the same order, by the analyser's names without "STATUS_"
    // ("NO_INPUT SETTLING"), and the decimal value of any bits no name covers; empty when all is
    // well.
    std::string words;
    // The input is lost: the reading is no reading.
    bool no_input = false;
};

// Reads the STATUS_ constants only when a flag is raised.
StatusText interpret_status(std::int32_t flags, const ConstantReader& constant);

}  // namespace vantel
