// SPDX-License-Identifier: MIT
// The meter's plain functions: the reading's texts, the status words read from the analyser's
// constants, and the function knob's lamps and steps.
#include "meter/reading_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "automation/conversions.h"
#include "instrument/analyser.h"
#include "instrument/constants.h"
#include "meter/functions.h"
#include "meter/vocabulary.h"
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

// The status words read from the analyser's constants, and the function knob's lamps and steps.
struct Vocabulary {
    std::string name;
    instrument::Enumeration of;  // in our analyser
    std::string (*interpret)(std::int16_t, const ConstantReader&);
    std::string unknown;  // word for a code no member has; empty: the code's decimal number
    // Constant, word and, where the panel also writes or tests it as a number, the code every
    // analyser shares; in lookup order.
    struct Row {
        std::string constant, word;
        std::int64_t code = -1;
    };
    std::vector<Row> rows;
};

// clang-format off
const std::vector<Vocabulary>& vocabularies() {
    static const std::vector<Vocabulary> all{
        {"Units", instrument::Enumeration::Unit, interpret_units, "", {
            {"UNIT_NULL", "Null", 0}, {"UNIT_SECONDS", "s"}, {"UNIT_MS", "ms"},
            {"UNIT_FREQ_HZ", "Hz"}, {"UNIT_FREQ_OFFSET", "Hz o/s"}, {"UNIT_FREQ_RATIO", "Hz ratio"},
            {"UNIT_DBFS", "dBFS", 32}, {"UNIT_FS", "%FS"}, {"UNIT_FFS", "FFS"}, {"UNIT_HEX", "Hex"},
            {"UNIT_VRMS", "V RMS"}, {"UNIT_VP", "V peak", 21}, {"UNIT_VPP", "V p-p", 22},
            {"UNIT_DBU", "dBu", 23}, {"UNIT_DBV", "dBV", 66}, {"UNIT_DBM", "dBm", 30},
            {"UNIT_W", "W", 31},
            {"UNIT_DBR", "dBr"}, {"UNIT_PERCENTREF", "% ref"}, {"UNIT_RELATIVE_DB", "dB", 37},
            {"UNIT_RELATIVE_PERCENT", "%", 38}, {"UNIT_JITTER_UI", "UI"}, {"UNIT_JITTER_NS", "ns"},
            {"UNIT_PHASE_UI", "UI"}, {"UNIT_PHASE_PERCENT", "%"},
            {"UNIT_PHASE_SAMPLES", "samples"}, {"UNIT_PHASE_DEGREES", "deg"},
            {"UNIT_PHASE_RADIANS", "rad"},
            {"UNIT_PHASE_US", "\xC2\xB5s"},  // MICRO SIGN, not Greek mu
            {"UNIT_DUTYCYCLE_PERCENT", "%"}, {"UNIT_DUTYCYCLE_SAMPLES", "samples"},
            {"UNIT_V", "V", 20}, {"UNIT_PPM", "PPM"}}},
        {"Weighting", instrument::Enumeration::Weighting, interpret_weighting, "", {
            {"CTD_WEIGHTING_NONE", "unweighted", 0}, {"CTD_WEIGHTING_AWEIGHTING", "A weighted", 1},
            {"CTD_WEIGHTING_CCIR468_1K", "CCIR468 1k", 3},
            {"CTD_WEIGHTING_CCIR468_2K", "CCIR468 2k", 4},
            {"CTD_WEIGHTING_DEFAULT", "default", 5}}},
        {"Response", instrument::Enumeration::Response, interpret_response, "", {
            {"CTD_RESPONSE_RMS", "RMS", 0}, {"CTD_RESPONSE_PEAK", "Peak", 1},
            {"CTD_RESPONSE_PEAKSAMPLE", "Pk Sample", 2}, {"CTD_RESPONSE_QPEAK", "Q-Peak", 3}}},
        {"Relativity", instrument::Enumeration::Relativity, interpret_relativity, "", {
            {"CTD_RELATIVITY_ABS", "absolute", 0}, {"CTD_RELATIVITY_SELF", "self rel.", 1},
            {"CTD_RELATIVITY_GEN", "gen. rel.", 2}, {"CTD_RELATIVITY_CHANNEL", "ch. rel.", 3}}},
        {"AnalogueInput", instrument::Enumeration::AnalogueSource, interpret_analogue_input,
         "Unknown input", {
            {"AI_SOURCE_BAL_UNBAL", "XLR / BNC", 0}, {"AI_SOURCE_JITTERDEMOD_FS", "Jitter Demod"},
            {"AI_SOURCE_JITTERDEMOD_DATA", "Jitter Demod"}, {"AI_SOURCE_GENOUTPUT", "Generator", 3},
            {"AI_SOURCE_CHA", "A (Gen A on B)"}, {"AI_SOURCE_CHB", "B (Gen B on A)"}}},
        {"DigitalInput", instrument::Enumeration::DigitalSource, interpret_digital_input, "", {
            {"DI_SOURCE_XLR", "XLR", 0}, {"DI_SOURCE_BNC", "BNC", 1},
            {"DI_SOURCE_TOSLINK", "TOSLINK", 2},
            {"DI_SOURCE_GENXLR", "Generator XLR", 3}, {"DI_SOURCE_GENBNC", "Generator BNC", 4}}},
    };
    return all;
}
// clang-format on

std::int16_t code_of_row(std::size_t k) {
    return static_cast<std::int16_t>(100 + k);
}

// A stand-in for the analyser: row k of the vocabulary has the value code_of_row(k) unless a test
// changes it; a name it lacks fails as a missing member would; every read is recorded.
struct FakeAnalyser {
    std::map<std::string, double, std::less<>> values;
    std::vector<std::string> reads;

    explicit FakeAnalyser(const Vocabulary& v) {
        for (std::size_t k = 0; k < v.rows.size(); ++k)
            values[v.rows[k].constant] = code_of_row(k);
    }
    ConstantReader reader() {
        return [this](std::string_view name) {
            reads.emplace_back(name);
            auto it = values.find(name);
            if (it == values.end())
                throw AutomationError(std::string(name), "no such constant");
            return it->second;
        };
    }
};

std::vector<std::string> first_names(const Vocabulary& v, std::size_t count) {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < count; ++k)
        names.push_back(v.rows[k].constant);
    return names;
}

class VocabularyLookup : public testing::TestWithParam<std::size_t> {};

// Each row's word, reached after reading exactly the constants up to and including its own. An
// unknown code reads every row, then falls back; a value two rows share goes to the earlier; the
// constants are read afresh at every call; a failing read propagates, unless a row before it
// matched.
TEST_P(VocabularyLookup, GivesEachRowsWordFallsBackPrefersEarlierRowsAndPropagatesFailures) {
    const Vocabulary& v = vocabularies()[GetParam()];
    FakeAnalyser analyser{v};
    for (std::size_t k = 0; k < v.rows.size(); ++k) {
        analyser.reads.clear();
        EXPECT_EQ(v.interpret(code_of_row(k), analyser.reader()), v.rows[k].word);
        EXPECT_EQ(analyser.reads, first_names(v, k + 1)) << v.rows[k].constant;
    }
    analyser.reads.clear();
    EXPECT_EQ(v.interpret(-7, analyser.reader()), v.unknown.empty() ? "-7" : v.unknown);
    EXPECT_EQ(analyser.reads, first_names(v, v.rows.size()));

    ConstantReader reader = analyser.reader();
    std::swap(analyser.values[v.rows[0].constant], analyser.values[v.rows[1].constant]);
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].word);
    analyser.values[v.rows[1].constant] = analyser.values[v.rows[0].constant];
    analyser.reads.clear();
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].word);
    EXPECT_EQ(analyser.reads.size(), 1u);

    analyser.values.erase(v.rows[1].constant);
    EXPECT_THROW(v.interpret(code_of_row(2), reader), AutomationError);
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].word);

    // Our analyser publishes every name the panel reads as an integer, the fixed codes as they
    // are, and none the panel never reads.
    ObjectRef app = Analyser().application();
    for (const auto& [constant, word, fixed] : v.rows) {
        const Value code = app->get(constant);
        ASSERT_EQ(code.kind(), Value::Kind::Integer) << constant;
        if (fixed >= 0) {
            EXPECT_EQ(code.as_integer(), fixed) << constant;
        }
    }
    EXPECT_EQ(
        std::ranges::count(instrument::kConstants, v.of, &instrument::NamedConstant::enumeration),
        std::ssize(v.rows));
}

INSTANTIATE_TEST_SUITE_P(AllVocabularies, VocabularyLookup,
                         testing::Range<std::size_t>(0, vocabularies().size()),
                         [](const auto& row) { return vocabularies()[row.param].name; });

TEST(InterpretUnits, MinusOneIsInvalidWithoutAsking) {
    int reads = 0;
    // Even a member with that value does not win over the fixed marker.
    ConstantReader reader = [&](std::string_view) { return ++reads, -1.0; };
    EXPECT_EQ(interpret_units(-1, reader), "Invalid");
    EXPECT_EQ(reads, 0);
}

const std::string thdn = "THD+N - relative";
const std::string noise_a = "Noise (A-weighted)";

struct KnobCase {
    const char* name;
    std::string function_name;
    int lamp;
    std::string left, right;
};

class FunctionKnob : public testing::TestWithParam<KnobCase> {};

TEST_P(FunctionKnob, LampAndSteps) {
    const KnobCase& c = GetParam();
    EXPECT_EQ(function_lamp(c.function_name), c.lamp);
    EXPECT_EQ(knob_step_left(c.function_name), c.left);
    EXPECT_EQ(knob_step_right(c.function_name), c.right);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Names, FunctionKnob, testing::ValuesIn(std::vector<KnobCase>{
    {"Amplitude", "Amplitude", 0, thdn, "Balance"},
    {"Balance", "Balance", 1, "Amplitude", "Cross-talk"},
    {"CrossTalk", "Cross-talk", 2, "Balance", noise_a},
    {"NoiseAWeighted", noise_a, 3, "Cross-talk", thdn},
    {"NoiseRms", "Noise (RMS)", 3, "Cross-talk", thdn},
    {"NoiseCcir468", "Noise (CCIR-468)", 3, "Cross-talk", thdn},
    {"NoiseUnweighted", "Noise (unweighted)", 3, "Cross-talk", thdn},
    {"NoisePlain", "Noise", 3, "Cross-talk", thdn}, {"ThdN", thdn, 4, noise_a, "Amplitude"},
    // Anything else is "Other": exact names, no case folding or trimming.
    {"DesignTimeCaption", "Selected Function", 5, thdn, "Amplitude"},
    {"LowerCase", "amplitude", 5, thdn, "Amplitude"},
    {"TrailingSpace", "Noise ", 5, thdn, "Amplitude"},
    {"LeadingSpace", " Balance", 5, thdn, "Amplitude"},
    {"ShortThdN", "THD+N", 5, thdn, "Amplitude"}, {"Empty", "", 5, thdn, "Amplitude"},
}), testing_support::RowName());
// clang-format on

}  // namespace
}  // namespace vantel
