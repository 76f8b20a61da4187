// SPDX-License-Identifier: MIT
#include "simulator/units.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "simulator/constants.h"

namespace vantel::sim {

namespace {

double db(double ratio) {
    return 20.0 * std::log10(std::max(ratio, kResolutionFloor));
}

// The A-weighting curve of IEC 61672, normalised here to exactly 1 at 1 kHz rather than through
// the standard's rounded +2.00 dB, so that a 1 kHz tone reads the same with and without it.
double a_weighting_raw(double f) {
    const double f2 = f * f;
    constexpr double f1 = 20.6, f2p = 107.7, f3 = 737.9, f4 = 12194.0;
    return f4 * f4 * f2 * f2 /
           ((f2 + f1 * f1) * std::sqrt((f2 + f2p * f2p) * (f2 + f3 * f3)) * (f2 + f4 * f4));
}

// The ITU-R BS.468 (CCIR-468) curve from its closed-form rational approximation: 0 dB at 1 kHz,
// +12.2 dB at 6.3 kHz, -22.2 dB at 20 kHz.
double ccir468_raw(double f) {
    const double h1 = -4.737338981378384e-24 * std::pow(f, 6) +
                      2.043828333606125e-15 * std::pow(f, 4) - 1.363894795463638e-7 * f * f + 1.0;
    const double h2 = 1.306612257412824e-19 * std::pow(f, 5) -
                      2.118150887518656e-11 * std::pow(f, 3) + 5.559488023498642e-4 * f;
    return 1.246332637532143e-4 * f / std::hypot(h1, h2);
}

// Second-order Butterworth high-pass at 400 Hz, the filter that has no published name; it keeps
// mains hum out of distortion readings.
double highpass_400hz(double f) {
    constexpr double corner_hz = 400.0;
    const double r = f / corner_hz;
    return r * r / std::sqrt(1.0 + r * r * r * r);
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

double weighting_gain(std::int16_t weighting, double frequency_hz) {
    const double f = std::max(frequency_hz, 1e-3);  // the curves are undefined at 0 Hz
    switch (weighting) {
        case code_of("CTD_WEIGHTING_AWEIGHTING"):
            return a_weighting_raw(f) / a_weighting_raw(1000.0);
        case code_of("CTD_WEIGHTING_CCIR468_1K"):
            return ccir468_raw(f) / ccir468_raw(1000.0);
        case code_of("CTD_WEIGHTING_CCIR468_2K"):
            return ccir468_raw(f) / ccir468_raw(2000.0);
        case kUnnamedWeighting:
            return highpass_400hz(f);
        default:
            return 1.0;
    }
}

double white_noise_gain(std::int16_t weighting) {
    // Mean power gain over a 10 Hz grid across the band; fine enough for curves this smooth.
    constexpr double low_hz = 20.0, step_hz = 10.0;
    constexpr int points = 1999;  // 20 Hz to 20 kHz
    double power = 0.0;
    for (int i = 0; i < points; ++i) {
        const double g = weighting_gain(weighting, low_hz + step_hz * i);
        power += g * g;
    }
    return std::sqrt(power / points);
}

}  // namespace vantel::sim
