// SPDX-License-Identifier: MIT
#include "meter/reading_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "automation/conversions.h"

namespace vantel {

namespace {

// The meter shows four significant figures, and below 1 a plain unit shows three decimals.
constexpr int display_sig_figs = 4;
constexpr int nearest_even = 1;
constexpr double plain_decimals_scale = 1e3;

constexpr std::size_t positive_width = 5;
constexpr std::size_t negative_width = 6;  // one more for the minus sign
constexpr std::size_t widest_text = 6;
constexpr std::size_t kept_before_mark = 5;

constexpr std::string_view over_range = "OVER";

struct Decade {
    double lower_bound;  // the decade holds magnitudes from here up to the previous row's bound
    double factor;
    bool divide;  // above 1 the reading is divided by the factor, below 1 multiplied
    std::string_view prefix;
};

// Tried from the top; the first row whose lower bound the magnitude reaches is its decade.
constexpr std::array<Decade, 7> decades{{
    {1e9, 1e9, true, "G"},
    {1e6, 1e6, true, "M"},
    {1e3, 1e3, true, "k"},
    {1.0, 1.0, true, ""},
    {1e-3, 1e3, false, "m"},
    {1e-6, 1e6, false, "\u00B5"},  // MICRO SIGN, as the unit words use it
    {1e-9, 1e9, false, "n"},
}};

const Decade* decade_of(double reading) {
    double magnitude = std::fabs(reading);
    for (const Decade& decade : decades) {
        if (magnitude >= decade.lower_bound)
            return &decade;
    }
    return nullptr;  // below 1E-9, 0 or NaN
}

constexpr std::array<std::string_view, 6> ranged_unit_constants{
    "UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP", "UNIT_VPP", "UNIT_W", "UNIT_V"};

DisplayText over_range_text(std::string_view unit_text) {
    return {std::string(over_range), std::string(unit_text)};
}

}  // namespace

double RoundtoSigFigs(double x, int sig_figs, int mode) {
    if (x == 0.0)
        return 0.0;
    if (!std::isfinite(x))
        return x;
    // Natural logarithms on purpose: at exact powers of ten the quotient can land just below the
    // whole number (e is 2 for 1000), which only rounds to one more figure and gives the same
    // result.
    double exponent = std::floor(std::log(std::fabs(x)) / std::log(10.0));
    double scale = std::pow(10.0, exponent + 1 - sig_figs);
    double y = x / scale;
    if (!std::isfinite(y))
        return x;  // 10^p underflowed for a subnormal x, which has fewer figures than asked for
    switch (mode) {
        case 0:
            y = std::floor(y);
            break;
        case 1:
            y = round_half_even(y);
            break;
        case 2:
            y = std::floor(y) + 1;
            break;
        default:
            break;
    }
    return scale * y;
}

std::optional<double> Autorange_reading(double reading) {
    const Decade* decade = decade_of(reading);
    if (decade == nullptr)
        return std::nullopt;
    return decade->divide ? reading / decade->factor : reading * decade->factor;
}

std::optional<std::string> Autorange_Units(double reading, std::string_view unit) {
    const Decade* decade = decade_of(reading);
    if (decade == nullptr)
        return std::nullopt;
    std::string text(decade->prefix);
    text += unit;
    return text;
}

std::string Pad_Reading(std::string text, double current_reading) {
    std::size_t width = current_reading > 0   ? positive_width
                        : current_reading < 0 ? negative_width
                                              : 0;
    while (text.size() < width)
        text += text.find('.') == std::string::npos ? '.' : '0';
    if (text.size() > widest_text) {
        if (text.find('.') != std::string::npos) {
            text.resize(kept_before_mark);
            text += '!';
        } else {
            text = over_range;
        }
    }
    return text;
}

std::optional<std::string> hex_text(double reading) {
    double whole = round_half_even(reading);
    // Written so that NaN fails the test too.
    if (!(whole >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          whole <= static_cast<double>(std::numeric_limits<std::int32_t>::max())))
        return std::nullopt;
    auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(whole));
    char digits[8];
    auto result = std::to_chars(digits, digits + sizeof digits, bits, 16);
    std::string text(digits, result.ptr);
    for (char& c : text) {
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

UnitClass classify_unit(std::int16_t unit, const ConstantReader& constant) {
    for (std::string_view name : ranged_unit_constants) {
        if (constant(name) == static_cast<double>(unit))
            return UnitClass::Ranged;
    }
    if (constant("UNIT_HEX") == static_cast<double>(unit))
        return UnitClass::Hex;
    return UnitClass::Plain;
}

DisplayText format_reading(double reading, UnitClass unit_class, std::string_view unit_text) {
    switch (unit_class) {
        case UnitClass::Ranged: {
            // Without this, NaN would fall below every decade and read as a calm "0".
            if (!std::isfinite(reading))
                return over_range_text(unit_text);
            double shown = RoundtoSigFigs(Autorange_reading(reading).value_or(0.0),
                                          display_sig_figs, nearest_even);
            // A reading without a decade (0, or below a nano) still names its unit: silence is
            // common on a live input, and an empty unit label would not say what reads 0.
            return {Pad_Reading(number_text(shown), reading),
                    Autorange_Units(reading, unit_text).value_or(std::string(unit_text))};
        }
        case UnitClass::Hex:
            return {hex_text(reading).value_or(std::string(over_range)), std::string(unit_text)};
        case UnitClass::Plain:
            break;
    }
    double shown = std::fabs(reading) >= 1.0
                       ? RoundtoSigFigs(reading, display_sig_figs, nearest_even)
                       : round_half_even(reading * plain_decimals_scale) / plain_decimals_scale;
    // Also catches a reading near the largest double, whose four figures round past it.
    if (!std::isfinite(shown))
        return over_range_text(unit_text);
    return {Pad_Reading(number_text(shown), reading), std::string(unit_text)};
}

}  // namespace vantel
