// SPDX-License-Identifier: MIT
#pragma once

// Everything our analyser is set to, as plain data. Instrument keeps it consistent;
// Measurement reads it to decide what to measure and how.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

#include "instrument/constants.h"
#include "instrument/functions.h"

namespace vantel::instrument {

enum class Channel { A, B };
constexpr std::size_t index(Channel c) {
    return c == Channel::A ? 0 : 1;
}
constexpr Channel other(Channel c) {
    return c == Channel::A ? Channel::B : Channel::A;
}

// SignalAnalyzer.SA_Source codes; the analyser publishes no names for them.
inline constexpr std::int16_t kAnalogueDomain = 0;
inline constexpr std::int16_t kDigitalDomain = 1;

struct AnalyserSettings {
    const MeasurementFunction* function = find_function("Amplitude");
    std::int16_t unit = code_of("UNIT_V");
    std::int16_t last_level_unit = code_of("UNIT_V");  // where a return to absolute goes
    std::int16_t weighting = code_of("CTD_WEIGHTING_DEFAULT");
    std::int16_t response = code_of("CTD_RESPONSE_RMS");
    std::int16_t relativity = code_of("CTD_RELATIVITY_ABS");
    std::int16_t input_domain = kAnalogueDomain;
    std::int16_t default_weighting = code_of("CTD_WEIGHTING_AWEIGHTING");
    std::int16_t analogue_source = code_of("AI_SOURCE_BAL_UNBAL");
    std::int16_t digital_source = code_of("DI_SOURCE_XLR");
    // The simulated device's connectors; 0 Hz means nothing is connected there and the input
    // is unlocked. A file or a live input reports its own rate on every connector instead.
    std::map<std::int16_t, std::int32_t> frame_rates_hz{
        {code_of("DI_SOURCE_XLR"), 48000},     {code_of("DI_SOURCE_BNC"), 0},
        {code_of("DI_SOURCE_TOSLINK"), 44100}, {code_of("DI_SOURCE_GENXLR"), 48000},
        {code_of("DI_SOURCE_GENBNC"), 96000},
    };
    // Each channel's quantity when self-relative measurement was switched on.
    std::array<double, 2> self_reference{1.0, 1.0};
};

// What a channel measures before it is expressed in a unit.
struct Quantity {
    double value = 0.0;      // volts RMS; Hz for the frequency function
    double reference = 0.0;  // what a ratio function measures it against, in the same unit
};

}  // namespace vantel::instrument
