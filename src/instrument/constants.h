// SPDX-License-Identifier: MIT
#pragma once

// Every named constant our analyser publishes on its application object, and its code.
// This is the only place the numbers appear: the analyser's own rules name them through
// code_of("UNIT_V"), which is checked when compiling. The panel reads the constants by name but
// also writes some codes as plain numbers (its unit, weighting, response, relativity and input
// keys), so those codes are the ones it expects and must not move: units 20, 21, 22, 23, 66, 30,
// 31, 32, 37, 38; weightings 0, 1, 3, 4, 5; responses and relativities 0 to 3; analogue sources
// 0 and 3; digital sources 0 to 4. The rest are ours.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel::instrument {

enum class Enumeration {
    Unit,
    Weighting,
    Response,
    Relativity,
    AnalogueSource,
    DigitalSource,
    Status,  // flags of SignalAnalyzer.SA_Status, one bit each
};

struct NamedConstant {
    std::string_view name;
    std::int16_t code;
    Enumeration enumeration;
};

inline constexpr auto kConstants = std::to_array<NamedConstant>({
    {"UNIT_NULL", 0, Enumeration::Unit},
    {"UNIT_SECONDS", 1, Enumeration::Unit},
    {"UNIT_MS", 2, Enumeration::Unit},
    {"UNIT_FREQ_HZ", 10, Enumeration::Unit},
    {"UNIT_FREQ_OFFSET", 11, Enumeration::Unit},
    {"UNIT_FREQ_RATIO", 12, Enumeration::Unit},
    {"UNIT_V", 20, Enumeration::Unit},
    {"UNIT_VP", 21, Enumeration::Unit},
    {"UNIT_VPP", 22, Enumeration::Unit},
    {"UNIT_DBU", 23, Enumeration::Unit},
    {"UNIT_VRMS", 24, Enumeration::Unit},
    {"UNIT_DBM", 30, Enumeration::Unit},
    {"UNIT_W", 31, Enumeration::Unit},
    {"UNIT_DBFS", 32, Enumeration::Unit},
    {"UNIT_FS", 33, Enumeration::Unit},
    {"UNIT_FFS", 34, Enumeration::Unit},
    {"UNIT_HEX", 35, Enumeration::Unit},
    {"UNIT_DBR", 36, Enumeration::Unit},
    {"UNIT_RELATIVE_DB", 37, Enumeration::Unit},
    {"UNIT_RELATIVE_PERCENT", 38, Enumeration::Unit},
    {"UNIT_PERCENTREF", 39, Enumeration::Unit},
    {"UNIT_JITTER_UI", 40, Enumeration::Unit},
    {"UNIT_JITTER_NS", 41, Enumeration::Unit},
    {"UNIT_PHASE_UI", 50, Enumeration::Unit},
    {"UNIT_PHASE_PERCENT", 51, Enumeration::Unit},
    {"UNIT_PHASE_SAMPLES", 52, Enumeration::Unit},
    {"UNIT_PHASE_DEGREES", 53, Enumeration::Unit},
    {"UNIT_PHASE_RADIANS", 54, Enumeration::Unit},
    {"UNIT_PHASE_US", 55, Enumeration::Unit},
    {"UNIT_DUTYCYCLE_PERCENT", 60, Enumeration::Unit},
    {"UNIT_DUTYCYCLE_SAMPLES", 61, Enumeration::Unit},
    {"UNIT_DBV", 66, Enumeration::Unit},
    {"UNIT_PPM", 70, Enumeration::Unit},

    {"CTD_WEIGHTING_NONE", 0, Enumeration::Weighting},
    {"CTD_WEIGHTING_AWEIGHTING", 1, Enumeration::Weighting},
    {"CTD_WEIGHTING_CCIR468_1K", 3, Enumeration::Weighting},
    {"CTD_WEIGHTING_CCIR468_2K", 4, Enumeration::Weighting},
    {"CTD_WEIGHTING_DEFAULT", 5, Enumeration::Weighting},

    {"CTD_RESPONSE_RMS", 0, Enumeration::Response},
    {"CTD_RESPONSE_PEAK", 1, Enumeration::Response},
    {"CTD_RESPONSE_PEAKSAMPLE", 2, Enumeration::Response},
    {"CTD_RESPONSE_QPEAK", 3, Enumeration::Response},

    {"CTD_RELATIVITY_ABS", 0, Enumeration::Relativity},
    {"CTD_RELATIVITY_SELF", 1, Enumeration::Relativity},
    {"CTD_RELATIVITY_GEN", 2, Enumeration::Relativity},
    {"CTD_RELATIVITY_CHANNEL", 3, Enumeration::Relativity},

    {"AI_SOURCE_BAL_UNBAL", 0, Enumeration::AnalogueSource},
    {"AI_SOURCE_JITTERDEMOD_FS", 1, Enumeration::AnalogueSource},
    {"AI_SOURCE_JITTERDEMOD_DATA", 2, Enumeration::AnalogueSource},
    {"AI_SOURCE_GENOUTPUT", 3, Enumeration::AnalogueSource},
    {"AI_SOURCE_CHA", 4, Enumeration::AnalogueSource},
    {"AI_SOURCE_CHB", 5, Enumeration::AnalogueSource},

    {"DI_SOURCE_XLR", 0, Enumeration::DigitalSource},
    {"DI_SOURCE_BNC", 1, Enumeration::DigitalSource},
    {"DI_SOURCE_TOSLINK", 2, Enumeration::DigitalSource},
    {"DI_SOURCE_GENXLR", 3, Enumeration::DigitalSource},
    {"DI_SOURCE_GENBNC", 4, Enumeration::DigitalSource},

    // What may make a reading untrustworthy; 0 is a reading to trust.
    {"STATUS_NO_INPUT", 1, Enumeration::Status},          // the input is lost, in either domain
    {"STATUS_OVERLOAD", 2, Enumeration::Status},          // a sample at or over full scale
    {"STATUS_DROPOUT", 4, Enumeration::Status},           // samples lost (xrun, overrun)
    {"STATUS_SETTLING", 8, Enumeration::Status},          // the window predates a change
    {"STATUS_INVALID_SAMPLES", 16, Enumeration::Status},  // NaN or infinite samples
    {"STATUS_UNCALIBRATED", 32, Enumeration::Status},     // a live input's volts, made up
});

// The weighting filters include one more, a 400 Hz high-pass, that the analyser accepts but
// publishes no name for; the panel's weighting key treats its code as outside the cycle.
inline constexpr std::int16_t kUnnamedWeighting = 2;

// The code behind a name, for the analyser's own rules. A misspelt name does not compile.
consteval std::int16_t code_of(std::string_view name) {
    for (const NamedConstant& c : kConstants) {
        if (c.name == name)
            return c.code;
    }
    throw "no named constant of that name";
}

const NamedConstant* find_constant(std::string_view name);
bool is_member(Enumeration enumeration, std::int16_t code);
std::size_t member_count(Enumeration enumeration);

// "UNIT_DBV" for a member, the decimal code otherwise; for messages.
std::string describe_code(Enumeration enumeration, std::int16_t code);

}  // namespace vantel::instrument
