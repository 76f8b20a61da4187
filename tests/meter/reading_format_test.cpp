// SPDX-License-Identifier: MIT
#include "meter/reading_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr auto R = UnitClass::Ranged;
constexpr auto H = UnitClass::Hex;
constexpr auto P = UnitClass::Plain;
const std::string micro = "\xC2\xB5";  // U+00B5 in UTF-8

struct FormatCase {
    const char* name;
    double reading;
    UnitClass unit_class;
    const char* unit_text;
    std::string want_reading;
    std::string want_unit = {};  // empty: the unit text as it came
};
class FormatReading : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatReading, GivesMeterTexts) {
    const FormatCase& c = GetParam();
    DisplayText got = format_reading(c.reading, c.unit_class, c.unit_text);
    EXPECT_EQ(got.reading, c.want_reading);
    EXPECT_EQ(got.unit, c.want_unit.empty() ? c.unit_text : c.want_unit);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ranged, FormatReading, testing::ValuesIn(std::vector<FormatCase>{
    {"OnePointFive", 1.5, R, "V", "1.500"}, {"Millivolts", 0.0123, R, "V", "12.30", "mV"},
    {"NegativeMillivolts", -0.0123, R, "V", "-12.30", "mV"},
    {"Kilovolts", 1234.5678, R, "V", "1.235", "kV"},
    {"Microvolts", 0.000987654, R, "V", "987.7", micro + "V"},
    {"Nanovolts", 2.5e-8, R, "V", "25.00", "nV"}, {"NegativeHalf", -0.5, R, "V", "-500.0", "mV"},
    {"RoundsUpToThousandInOwnDecade", 999.96, R, "V", "1000."},
    {"Megavolts", 12345678, R, "V", "12.35", "MV"},
    {"GigaFromItsBound", 1e9, R, "W", "1.000", "GW"},
    {"JustBelowGigaKeepsMega", 999999999, R, "W", "1000.", "MW"},
    {"BeyondGigaStaysGiga", -3e12, R, "V", "-3000.", "GV"},
    {"MilliFromItsBound", 1e-3, R, "V", "1.000", "mV"},
    {"NanoFromItsBound", 1e-9, R, "V", "1.000", "nV"},
    // Too small for a decade: the unit without a prefix.
    {"JustBelowNano", 9.99e-10, R, "V", "0.000"}, {"Zero", 0, R, "V", "0"},
    {"BelowNano", 1e-12, R, "Hz", "0.000"}, {"Kilohertz", 1000, R, "Hz", "1.000", "kHz"},
    {"Hertz", 20, R, "Hz", "20.00"}, {"NaNIsOver", nan, R, "V", "OVER"},
    {"MinusInfinityIsOver", -inf, R, "V", "OVER"},
}), testing_support::RowName());

INSTANTIATE_TEST_SUITE_P(Plain, FormatReading, testing::ValuesIn(std::vector<FormatCase>{
    {"Tens", 12.3456, P, "dBu", "12.35"}, {"Hundreds", 123.456, P, "dBu", "123.5"},
    {"ThousandsGetPoint", 1234.56, P, "dBu", "1235."},
    {"TenThousands", 12345.6, P, "dBu", "12350"}, {"SixDigits", 123456.7, P, "dBu", "123500"},
    {"LargestBelowOver", 999949, P, "dBu", "999900"},
    {"SevenDigitsIsOver", 999950, P, "dBu", "OVER"},
    {"NegativeTieToEven", -12345, P, "dBu", "-12340"},
    {"NegativeSevenDigitsIsOver", -123456, P, "dBu", "OVER"},
    {"Half", 0.5, P, "dBu", "0.500"}, {"BelowLastDecimal", 0.0004, P, "dBu", "0.000"},
    {"NegativeQuarter", -0.25, P, "dBu", "-0.250"}, {"Zero", 0, P, "dBu", "0"},
    {"ExponentFormIsCut", 1.2346e15, P, "dBu", "1.235!"},
    {"ExponentFormFitsAsItIs", 1e15, P, "dBu", "1E+15"},
    {"VoltsRmsAreNeverRanged", 0.0123, P, "V RMS", "0.012"},
    {"DecimalTieToEven", 0.0125, P, "dBu", "0.012"},
    {"InfinityIsOver", inf, P, "dBu", "OVER"}, {"NaNIsOver", nan, P, "dBu", "OVER"},
    {"RoundingPastLargestDoubleIsOver", std::numeric_limits<double>::max(), P, "dBu", "OVER"},
}), testing_support::RowName());

INSTANTIATE_TEST_SUITE_P(Hexadecimal, FormatReading, testing::ValuesIn(std::vector<FormatCase>{
    {"RoundsDown", 255.4, H, "Hex", "FF"}, {"MinusOneIsTwosComplement", -1, H, "Hex", "FFFFFFFF"},
    {"Zero", 0, H, "Hex", "0"}, {"TieToEvenDown", 2.5, H, "Hex", "2"},
    {"TieToEvenUp", 3.5, H, "Hex", "4"}, {"Largest", 2147483647.4, H, "Hex", "7FFFFFFF"},
    {"Smallest", -2147483648.0, H, "Hex", "80000000"},
    {"TieAbove32BitsIsOver", 2147483647.5, H, "Hex", "OVER"},
    {"Below32BitsIsOver", -2147483649.0, H, "Hex", "OVER"}, {"NaNIsOver", nan, H, "Hex", "OVER"},
}), testing_support::RowName());
// clang-format on

TEST(FormatReadingLocale, IgnoresCommaDecimalLocale) {
    struct Restore {
        std::string locale = std::setlocale(LC_ALL, nullptr);
        ~Restore() { std::setlocale(LC_ALL, locale.c_str()); }
    } restore;
    // The install script generates this locale; a missing one is a broken machine, not a skip.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5") << "the locale does not use a decimal comma";

    EXPECT_EQ(format_reading(0.0123, R, "V").reading, "12.30");
    EXPECT_EQ(format_reading(-0.25, P, "dBu").reading, "-0.250");
    EXPECT_EQ(number_text(44.1), "44.1");
}

TEST(RoundToSigFigs, ModesAndSigns) {
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(1234.5678, 4, 0), 1234);
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(1234.5678, 4, 1), 1235);
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(1234.0, 4, 2), 1235);  // a step up even when on a step
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(1234.5678, 4, 7), 1234.5678);
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(-1234.56, 4, 0), -1235);  // floor goes away from zero
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(-1234.5, 4, 1), -1234);
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(0.000123456, 2, 1), 0.00012);
    EXPECT_DOUBLE_EQ(RoundtoSigFigs(1000, 4, 1), 1000);
    EXPECT_EQ(RoundtoSigFigs(0, 4, 1), 0.0);
    double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_EQ(RoundtoSigFigs(tiny, 4, 1), tiny);
}

TEST(PadReading, SignComesFromReadingNotText) {
    EXPECT_EQ(Pad_Reading("12.3", -1), "12.300");  // the ranged path pads the scaled text
    EXPECT_EQ(Pad_Reading("0", -1e-12), "0.0000");
}

TEST(ClassifyUnit, ReadsRangedConstantsInOrderThenHex) {
    const std::vector<std::string> order{"UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP", "UNIT_VPP",
                                         "UNIT_W",       "UNIT_V",       "UNIT_HEX"};
    std::map<std::string, double> values;
    for (std::size_t i = 0; i < order.size(); ++i)
        values[order[i]] = static_cast<double>(10 + i);
    std::vector<std::string> reads;
    ConstantReader reader = [&](std::string_view name) {
        reads.emplace_back(name);
        return values.at(std::string(name));  // throws for a missing constant
    };
    for (std::size_t k = 0; k <= order.size(); ++k) {  // the last: a code no constant has
        reads.clear();
        const UnitClass want = k < 6   ? UnitClass::Ranged
                               : k < 7 ? UnitClass::Hex
                                       : UnitClass::Plain;
        EXPECT_EQ(classify_unit(static_cast<std::int16_t>(10 + k), reader), want) << k;
        EXPECT_EQ(reads, std::vector(order.begin(), order.begin() + std::min(k + 1, order.size())));
    }
    values["UNIT_HEX"] = values["UNIT_V"];  // a shared value stays ranged: hex is tested last
    EXPECT_EQ(classify_unit(15, reader), UnitClass::Ranged);
    values.erase("UNIT_VP");
    EXPECT_ANY_THROW(classify_unit(99, reader));
}

}  // namespace
}  // namespace vantel
