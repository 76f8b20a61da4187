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
#include "csv_table.h"
#include "meter/functions.h"
#include "meter/vocabulary.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace testing_support;

constexpr auto R = UnitClass::Ranged;
constexpr auto P = UnitClass::Plain;

class FormatReading : public testing::TestWithParam<CsvRow> {};

TEST_P(FormatReading, GivesMeterTexts) {
    const CsvRow& row = GetParam();
    const UnitClass unit_class = row["class"] == "Ranged" ? UnitClass::Ranged
                                 : row["class"] == "Hex"  ? UnitClass::Hex
                                                          : UnitClass::Plain;
    DisplayText got = format_reading(row.number("reading"), unit_class, row["unit_text"]);
    EXPECT_EQ(got.reading, row["want_reading"]);
    EXPECT_EQ(got.unit, row["want_unit"].empty() ? row["unit_text"] : row["want_unit"]);
}

std::vector<CsvRow> formats(std::string_view unit_class) {
    std::vector<CsvRow> rows = csv_beside("reading_formats.csv");
    std::erase_if(rows, [&](const CsvRow& row) { return row["class"] != unit_class; });
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Ranged, FormatReading, testing::ValuesIn(formats("Ranged")), RowName());
INSTANTIATE_TEST_SUITE_P(Plain, FormatReading, testing::ValuesIn(formats("Plain")), RowName());
INSTANTIATE_TEST_SUITE_P(Hexadecimal, FormatReading, testing::ValuesIn(formats("Hex")), RowName());

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

TEST(ClassifyUnit, RangedConstantsComeBeforeHex) {
    const std::vector<std::string> order{"UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP", "UNIT_VPP",
                                         "UNIT_W",       "UNIT_V",       "UNIT_HEX"};
    std::map<std::string, double> values;
    for (std::size_t i = 0; i < order.size(); ++i)
        values[order[i]] = static_cast<double>(10 + i);
    ConstantReader reader = [&](std::string_view name) {
        return values.at(std::string(name));  // throws for a missing constant
    };
    for (std::size_t k = 0; k <= order.size(); ++k) {  // the last: a code no constant has
        const UnitClass want = k < 6   ? UnitClass::Ranged
                               : k < 7 ? UnitClass::Hex
                                       : UnitClass::Plain;
        EXPECT_EQ(classify_unit(static_cast<std::int16_t>(10 + k), reader), want) << k;
    }
    values["UNIT_HEX"] = values["UNIT_V"];  // a shared value stays ranged: hex is tested last
    EXPECT_EQ(classify_unit(15, reader), UnitClass::Ranged);
    values.erase("UNIT_VP");
    EXPECT_ANY_THROW(classify_unit(99, reader));
}

// The status words read from the analyser's constants: a vocabulary's rows (vocabularies.csv, in
// lookup order) and its word for a code no member has (empty: the code's decimal number).
struct Vocabulary {
    std::string name;
    std::string (*interpret)(std::int16_t, const ConstantReader&);
    std::string unknown;
    std::vector<CsvRow> rows = {};
};

const std::vector<Vocabulary>& vocabularies() {
    static const std::vector<Vocabulary> all = [] {
        std::vector<Vocabulary> vocabularies{
            {"Units", interpret_units, ""},
            {"Weighting", interpret_weighting, ""},
            {"Response", interpret_response, ""},
            {"Relativity", interpret_relativity, ""},
            {"AnalogueInput", interpret_analogue_input, "Unknown input"},
            {"DigitalInput", interpret_digital_input, ""}};
        for (const CsvRow& row : csv_beside("vocabularies.csv"))
            std::ranges::find(vocabularies, row.name, &Vocabulary::name)->rows.push_back(row);
        return vocabularies;
    }();
    return all;
}

class VocabularyLookup : public testing::TestWithParam<std::size_t> {};

// Each row's word, reached after reading exactly the constants up to and including its own. An
// unknown code reads every row, then falls back; a value two rows share goes to the earlier; the
// constants are read afresh at every call; a failing read propagates, unless a row before it
// matched.
TEST_P(VocabularyLookup, GivesEachRowsWordFallsBackPrefersEarlierRowsAndPropagatesFailures) {
    const Vocabulary& v = vocabularies()[GetParam()];
    ASSERT_GE(v.rows.size(), 3u);
    // A stand-in for the analyser: row k's constant is 100 + k unless changed below; a name it
    // lacks fails as a missing member would.
    const auto code = [](std::size_t k) { return static_cast<std::int16_t>(100 + k); };
    std::map<std::string, double, std::less<>> values;
    std::vector<std::string> names, reads;
    for (const CsvRow& row : v.rows) {
        values[row["constant"]] = code(names.size());
        names.push_back(row["constant"]);
    }
    const ConstantReader reader = [&](std::string_view name) {
        reads.emplace_back(name);
        const auto it = values.find(name);
        if (it == values.end())
            throw AutomationError(std::string(name), "no such constant");
        return it->second;
    };
    for (std::size_t k = 0; k < names.size(); ++k) {
        reads.clear();
        EXPECT_EQ(v.interpret(code(k), reader), v.rows[k]["word"]);
        EXPECT_EQ(reads,
                  std::vector(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(k) + 1));
    }
    reads.clear();
    EXPECT_EQ(v.interpret(-7, reader), v.unknown.empty() ? "-7" : v.unknown);
    EXPECT_EQ(reads, names);

    std::swap(values[names[0]], values[names[1]]);
    EXPECT_EQ(v.interpret(code(1), reader), v.rows[0]["word"]);
    values[names[1]] = values[names[0]];
    reads.clear();
    EXPECT_EQ(v.interpret(code(1), reader), v.rows[0]["word"]);
    EXPECT_EQ(reads.size(), 1u);

    values.erase(names[1]);
    EXPECT_THROW(v.interpret(code(2), reader), AutomationError);
    EXPECT_EQ(v.interpret(code(1), reader), v.rows[0]["word"]);
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

class FunctionKnob : public testing::TestWithParam<CsvRow> {};

TEST_P(FunctionKnob, LampAndSteps) {
    const CsvRow& row = GetParam();
    EXPECT_EQ(function_lamp(row["function"]), row.integer("lamp"));
    EXPECT_EQ(knob_step_left(row["function"]), row["left"]);
    EXPECT_EQ(knob_step_right(row["function"]), row["right"]);
}

INSTANTIATE_TEST_SUITE_P(Names, FunctionKnob, testing::ValuesIn(csv_beside("function_knob.csv")),
                         RowName());

}  // namespace
}  // namespace vantel
