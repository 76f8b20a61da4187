// SPDX-License-Identifier: MIT
#include "instrument/units.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "instrument/constants.h"

namespace vantel::instrument {

namespace {

double db(double ratio) {
    return 20.0 * std::log10(std::max(ratio, kResolutionFloor));
}

}  // namespace

UnitFamily family_of(std::int16_t unit) {
    switch (unit) {
        case code_of("UNIT_V"):
        case code_of("UNIT_VRMS"):
        case code_of("UNIT_VP"):
        case code_of("UNIT_VPP"):
        case code_of("UNIT_DBU"):
        case code_of("UNIT_DBV"):
        case code_of("UNIT_DBM"):
        case code_of("UNIT_W"):
        case code_of("UNIT_DBFS"):
        case code_of("UNIT_FS"):
            return UnitFamily::Level;
        case code_of("UNIT_FREQ_HZ"):
            return UnitFamily::Frequency;
        case code_of("UNIT_RELATIVE_DB"):
        case code_of("UNIT_RELATIVE_PERCENT"):
            return UnitFamily::Relative;
        default:
            return UnitFamily::Unsupported;
    }
}

double express_level(double v_rms, std::int16_t unit, double full_scale_v) {
    switch (unit) {
        case code_of("UNIT_V"):
        case code_of("UNIT_VRMS"):
            return v_rms;
        case code_of("UNIT_VP"):  // the units assume a sine: peak = sqrt(2) x RMS
            return v_rms * std::numbers::sqrt2;
        case code_of("UNIT_VPP"):
            return 2.0 * v_rms * std::numbers::sqrt2;
        case code_of("UNIT_DBU"):
            return db(v_rms / kDbuReferenceV);
        case code_of("UNIT_DBV"):
            return db(v_rms);
        case code_of("UNIT_DBM"): {
            const double milliwatts = v_rms * v_rms / kDbmLoadOhm * 1e3;
            return 10.0 * std::log10(std::max(milliwatts, kResolutionFloor * kResolutionFloor));
        }
        case code_of("UNIT_W"):
            return v_rms * v_rms / kWattLoadOhm;
        case code_of("UNIT_DBFS"):
            return db(v_rms / full_scale_v);
        case code_of("UNIT_FS"):
            return 100.0 * v_rms / full_scale_v;
        default:
            throw std::invalid_argument("unit " + std::to_string(unit) + " is no level unit");
    }
}

double express_ratio(double ratio, std::int16_t unit) {
    switch (unit) {
        case code_of("UNIT_RELATIVE_DB"):
            return db(ratio);
        case code_of("UNIT_RELATIVE_PERCENT"):
            return 100.0 * ratio;
        default:
            throw std::invalid_argument("unit " + std::to_string(unit) + " is no relative unit");
    }
}

}  // namespace vantel::instrument
