// SPDX-License-Identifier: MIT
#pragma once

// What our analyser keeps between runs, as plain data, and its text: a small INI file that a
// person can read. Settings are kept per kind of source (a file starts digital and in dBFS,
// a sound card analogue, whatever the simulation was last set to), calibrations per source (a
// calibration belongs to one sound card's converters), and the source to open next time.
//
//   [analyser]
//   source=jack
//   [simulated]
//   function=THD+N - relative
//   input_domain=0
//   ...
//   [simulated/THD+N - relative]
//   unit=38
//   ...
//   [calibration/jack]
//   full_scale_a_v=1.2345
//
// Names and values are written with '%', '=', '[', ']' and control characters as %XX, so that
// any file path survives; '/' is escaped in the source of a calibration's section name too.

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "instrument/settings.h"

namespace vantel::instrument {

// Everything a kind of source remembers.
struct SavedProfile {
    std::string function = "Amplitude";
    std::map<std::string, FunctionSettings, std::less<>> functions;  // by function name
    std::int16_t input_domain = kAnalogueDomain;
    std::int16_t analogue_source = 0;
    std::int16_t digital_source = 0;
    std::array<double, 2> self_reference{1.0, 1.0};
    double generator_frequency_hz = 1000.0;
    double generator_level_v = 1.0;
    bool generator_on = true;
    bool operator==(const SavedProfile&) const = default;
};

// A source's calibration: each analogue channel's full scale, where one was set.
using SavedCalibration = std::array<std::optional<double>, 2>;

struct SavedState {
    std::optional<std::string> source;
    std::map<SourceKind, SavedProfile> profiles;
    std::map<std::string, SavedCalibration, std::less<>> calibrations;  // by source name
    bool operator==(const SavedState&) const = default;
};

// The file's text, with a first line that says what it is.
std::string saved_state_text(const SavedState& state);

// The state `text` holds. Nothing, and the first fault (with its line number) in `error`,
// when a line is neither a section, a key=value pair, a comment nor blank, or a value is not
// of its key's type (a code that is not a whole number within 16 bits, a level that is not a
// finite number, an on/off that is not 0 or 1). Sections and keys it does not know are passed
// over, so that a later version's file still opens. Whether the values are settings the
// analyser takes is the analyser's to check.
std::optional<SavedState> parse_saved_state(std::string_view text, std::string& error);

}  // namespace vantel::instrument
