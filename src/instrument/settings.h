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
#include "sources/simulated_device.h"

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

// What kind of thing the analyser measures; it decides where a fresh analyser starts.
enum class SourceKind {
    Simulated,  // the generator through a simulated device, or looped back
    File,       // a sound file: digital by nature, read in dBFS
    SoundCard,  // a live input (JACK, ALSA): analogue
};

// What each function remembers of the detector, as analysers keep it: choosing the function
// again brings its own unit, weighting, response and relativity back.
struct FunctionSettings {
    std::int16_t unit = code_of("UNIT_V");
    std::int16_t last_level_unit = code_of("UNIT_V");  // where a return to absolute goes
    std::int16_t weighting = code_of("CTD_WEIGHTING_NONE");
    std::int16_t response = code_of("CTD_RESPONSE_RMS");
    std::int16_t relativity = code_of("CTD_RELATIVITY_ABS");
    bool operator==(const FunctionSettings&) const = default;
};

// A bench instrument's starting point for `function`: unweighted, RMS, absolute, in the unit
// the function reads in (volts, or dBFS for a file; % for THD+N; dB for the ratios; Hz).
FunctionSettings default_function_settings(const MeasurementFunction& function, SourceKind kind);

constexpr std::size_t function_index(const MeasurementFunction* f) {
    return static_cast<std::size_t>(f - kFunctions.data());
}

struct AnalyserSettings {
    const MeasurementFunction* function = find_function("Amplitude");
    // The detector as the function in use has it.
    std::int16_t unit = code_of("UNIT_V");
    std::int16_t last_level_unit = code_of("UNIT_V");  // where a return to absolute goes
    std::int16_t weighting = code_of("CTD_WEIGHTING_NONE");
    std::int16_t response = code_of("CTD_RESPONSE_RMS");
    std::int16_t relativity = code_of("CTD_RELATIVITY_ABS");
    // What every function has, the one in use as it was when it was last left.
    std::array<FunctionSettings, kFunctions.size()> functions{};
    std::int16_t input_domain = kAnalogueDomain;
    std::int16_t default_weighting = code_of("CTD_WEIGHTING_NONE");
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
    // Each analogue input channel's calibration: the volts RMS of a full-scale sine (the
    // simulated devices' converters have the nominal 10 V), and whether anybody set it: a live
    // input's volts are made up until then.
    std::array<double, 2> full_scale_v{source::kAnalogueFullScaleVRms,
                                       source::kAnalogueFullScaleVRms};
    std::array<bool, 2> calibrated{false, false};

    FunctionSettings detector() const {
        return {unit, last_level_unit, weighting, response, relativity};
    }
    void set_detector(const FunctionSettings& f) {
        unit = f.unit;
        last_level_unit = f.last_level_unit;
        weighting = f.weighting;
        response = f.response;
        relativity = f.relativity;
    }
};

// A fresh analyser on a source of `kind`: every function at its defaults, Amplitude chosen, a
// file in the digital domain and everything else in the analogue one.
AnalyserSettings default_settings(SourceKind kind);

// What a channel measures before it is expressed in a unit.
struct Quantity {
    double value = 0.0;      // volts RMS; Hz for the frequency function
    double reference = 0.0;  // what a ratio function measures it against, in the same unit
};

}  // namespace vantel::instrument
