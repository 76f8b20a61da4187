// SPDX-License-Identifier: MIT
#include "instrument/settings.h"

namespace vantel::instrument {

FunctionSettings default_function_settings(const MeasurementFunction& function, SourceKind kind) {
    // A file's samples are digital full-scale units by nature; volts would be made up.
    const std::int16_t level_unit =
        kind == SourceKind::File ? code_of("UNIT_DBFS") : code_of("UNIT_V");
    FunctionSettings f;
    f.unit = level_unit;
    f.last_level_unit = level_unit;
    switch (function.kind) {
        case FunctionKind::Level:
            break;
        case FunctionKind::Noise:
            f.weighting = function.weighting.value_or(code_of("CTD_WEIGHTING_NONE"));
            break;
        case FunctionKind::Thdn:
            f.unit = code_of("UNIT_RELATIVE_PERCENT");
            break;
        case FunctionKind::Balance:
        case FunctionKind::Crosstalk:
            f.unit = code_of("UNIT_RELATIVE_DB");
            break;
        case FunctionKind::Frequency:
            f.unit = code_of("UNIT_FREQ_HZ");
            break;
    }
    return f;
}

AnalyserSettings default_settings(SourceKind kind) {
    AnalyserSettings s;
    for (const MeasurementFunction& f : kFunctions)
        s.functions[function_index(&f)] = default_function_settings(f, kind);
    s.set_detector(s.functions[function_index(s.function)]);
    s.input_domain = kind == SourceKind::File ? kDigitalDomain : kAnalogueDomain;
    return s;
}

}  // namespace vantel::instrument
