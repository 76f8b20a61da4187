// SPDX-License-Identifier: MIT
#pragma once

// What the meter publishes: every text the panel shows, and the raw reading behind them. The
// panel is a function of this value; the recorder and the trend read it too. Texts are UTF-8.

#include <cstdint>
#include <optional>
#include <string>

#include "meter/reading_format.h"

namespace vantel {

struct MeterReading {
    // Why it was published. Work ticks come every 200 ms: an update cycle ran, or the hold kept
    // the display as it was. The rest change what is shown between ticks.
    enum class Occasion { StartUp, Cycle, HeldTick, Key };
    Occasion occasion = Occasion::StartUp;

    // The display, as it reads before the first poll (the panel's design-time captions).
    std::string main_reading = "-0.123";
    std::string unit_word = "units";  // with its range prefix: "mV"
    std::string minimum = "0.000";
    std::string minimum_unit = "units";
    std::string maximum = "0.000";
    std::string maximum_unit = "units";
    std::string function_name = "Selected Function";
    std::string response_word = "resp.";
    std::string weighting_word = "weighting";
    std::string relativity_word = "relativity";
    std::string channel = "A";
    std::string input = "Selected Input";
    std::string domain = "Domain";
    std::string lock = "Digital Input Status";
    // The lamp of the function knob that is lit, 0 to 5; nothing lights all six (before the
    // first poll).
    std::optional<int> lit_lamp;
    bool hold_mark = true;
    // The most serious thing the analyser says is wrong with the reading ("NO INPUT", "OVLD"),
    // for the display's annunciator; empty when all is well, or the analyser says nothing.
    std::string annunciator;
    // What the analyser measures, in its own words ("simulated", "JACK"); empty when it does not
    // say. The window's title carries it.
    std::string source_name;

    // The raw reading behind main_reading: the detector's value in the unit named by unit_code
    // (whose word, without a range prefix, is raw_unit_word); nothing when the display shows
    // over-range, or when the input is lost (the analyser's number is then no reading).
    // seconds is the meter's clock since its start.
    std::optional<double> raw_reading;
    std::int16_t unit_code = 0;
    std::string raw_unit_word;
    // How the display formats readings in that unit (with a range prefix, in hexadecimal, or as
    // they are), so that a view can write other values in the same unit as the display would.
    UnitClass unit_class = UnitClass::Plain;
    double seconds = 0.0;
    bool held = false;  // the hold key froze the display: the texts are not this tick's
    // Every status flag the analyser raised for the reading, by name ("NO_INPUT SETTLING");
    // empty when all is well.
    std::string status_words;
    // The analyser says its input is lost: the display shows the number it gave, but there is
    // no raw reading.
    bool input_lost = false;
};

// A value as the log and the trend write it: its unit after a space, if it has one ("1.234 mV").
inline std::string with_unit(const std::string& value, const std::string& unit) {
    return unit.empty() ? value : value + ' ' + unit;
}

}  // namespace vantel
