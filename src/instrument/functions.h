// SPDX-License-Identifier: MIT
#pragma once

// The detector's measurement functions, by the names the analyser takes and reports. The panel
// offers the first five through its keys and knob and recognises the other noise names as its
// noise position; "Frequency" is one the panel does not offer, so its "Other" position shows.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "instrument/constants.h"

namespace vantel::instrument {

enum class FunctionKind {
    Level,      // the signal's level
    Noise,      // the noise floor alone
    Thdn,       // distortion and noise, against the signal itself
    Balance,    // one channel against the other
    Crosstalk,  // leakage from the driven channel, against that channel
    Frequency,  // the signal's frequency, in Hz
};

struct MeasurementFunction {
    std::string_view name;
    FunctionKind kind;
    // A filter the name itself implies, used whatever the detector's weighting setting says.
    std::optional<std::int16_t> weighting;
};

inline constexpr auto kFunctions = std::to_array<MeasurementFunction>({
    {"Amplitude", FunctionKind::Level, std::nullopt},
    {"Balance", FunctionKind::Balance, std::nullopt},
    {"Cross-talk", FunctionKind::Crosstalk, std::nullopt},
    {"Noise (A-weighted)", FunctionKind::Noise, code_of("CTD_WEIGHTING_AWEIGHTING")},
    {"Noise (RMS)", FunctionKind::Noise, std::nullopt},
    {"Noise (CCIR-468)", FunctionKind::Noise, code_of("CTD_WEIGHTING_CCIR468_1K")},
    {"Noise (unweighted)", FunctionKind::Noise, code_of("CTD_WEIGHTING_NONE")},
    {"Noise", FunctionKind::Noise, std::nullopt},
    {"THD+N - relative", FunctionKind::Thdn, std::nullopt},
    {"Frequency", FunctionKind::Frequency, std::nullopt},
});

// Names are compared exactly, as the analyser does: "amplitude" is no function.
constexpr const MeasurementFunction* find_function(std::string_view name) {
    for (const MeasurementFunction& f : kFunctions) {
        if (f.name == name)
            return &f;
    }
    return nullptr;
}

// Functions whose reading is by nature a ratio against a reference of their own; in a relative
// unit they show that ratio whatever the relativity setting.
constexpr bool measures_ratio(FunctionKind kind) {
    return kind == FunctionKind::Thdn || kind == FunctionKind::Balance ||
           kind == FunctionKind::Crosstalk;
}

}  // namespace vantel::instrument
