// SPDX-License-Identifier: MIT
// The status words read from the analyser's constants, and the function knob's lamps and steps.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "meter/functions.h"
#include "meter/vocabulary.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

struct Vocabulary {
    std::string name;
    std::string (*interpret)(std::int16_t, const ConstantReader&);
    std::string unknown;  // word for a code no member has; empty: the code's decimal number
    std::vector<std::pair<std::string, std::string>> rows;  // constant and word, in lookup order
};

// clang-format off
const std::vector<Vocabulary>& vocabularies() {
    static const std::vector<Vocabulary> all{
        {"Units", interpret_units, "", {
            {"UNIT_NULL", "Null"}, {"UNIT_SECONDS", "s"}, {"UNIT_MS", "ms"},
            {"UNIT_FREQ_HZ", "Hz"}, {"UNIT_FREQ_OFFSET", "Hz o/s"}, {"UNIT_FREQ_RATIO", "Hz ratio"},
            {"UNIT_DBFS", "dBFS"}, {"UNIT_FS", "%FS"}, {"UNIT_FFS", "FFS"}, {"UNIT_HEX", "Hex"},
            {"UNIT_VRMS", "V RMS"}, {"UNIT_VP", "V peak"}, {"UNIT_VPP", "V p-p"},
            {"UNIT_DBU", "dBu"}, {"UNIT_DBV", "dBV"}, {"UNIT_DBM", "dBm"}, {"UNIT_W", "W"},
            {"UNIT_DBR", "dBr"}, {"UNIT_PERCENTREF", "% ref"}, {"UNIT_RELATIVE_DB", "dB"},
            {"UNIT_RELATIVE_PERCENT", "%"}, {"UNIT_JITTER_UI", "UI"}, {"UNIT_JITTER_NS", "ns"},
            {"UNIT_PHASE_UI", "UI"}, {"UNIT_PHASE_PERCENT", "%"},
            {"UNIT_PHASE_SAMPLES", "samples"}, {"UNIT_PHASE_DEGREES", "deg"},
            {"UNIT_PHASE_RADIANS", "rad"},
            {"UNIT_PHASE_US", "\xC2\xB5s"},  // MICRO SIGN, not Greek mu
            {"UNIT_DUTYCYCLE_PERCENT", "%"}, {"UNIT_DUTYCYCLE_SAMPLES", "samples"},
            {"UNIT_V", "V"}, {"UNIT_PPM", "PPM"}}},
        {"Weighting", interpret_weighting, "", {
            {"CTD_WEIGHTING_NONE", "unweighted"}, {"CTD_WEIGHTING_AWEIGHTING", "A weighted"},
            {"CTD_WEIGHTING_CCIR468_1K", "CCIR468 1k"}, {"CTD_WEIGHTING_CCIR468_2K", "CCIR468 2k"},
            {"CTD_WEIGHTING_DEFAULT", "default"}}},
        {"Response", interpret_response, "", {
            {"CTD_RESPONSE_RMS", "RMS"}, {"CTD_RESPONSE_PEAK", "Peak"},
            {"CTD_RESPONSE_PEAKSAMPLE", "Pk Sample"}, {"CTD_RESPONSE_QPEAK", "Q-Peak"}}},
        {"Relativity", interpret_relativity, "", {
            {"CTD_RELATIVITY_ABS", "absolute"}, {"CTD_RELATIVITY_SELF", "self rel."},
            {"CTD_RELATIVITY_GEN", "gen. rel."}, {"CTD_RELATIVITY_CHANNEL", "ch. rel."}}},
        {"AnalogueInput", interpret_analogue_input, "Unknown input", {
            {"AI_SOURCE_BAL_UNBAL", "XLR / BNC"}, {"AI_SOURCE_JITTERDEMOD_FS", "Jitter Demod"},
            {"AI_SOURCE_JITTERDEMOD_DATA", "Jitter Demod"}, {"AI_SOURCE_GENOUTPUT", "Generator"},
            {"AI_SOURCE_CHA", "A (Gen A on B)"}, {"AI_SOURCE_CHB", "B (Gen B on A)"}}},
        {"DigitalInput", interpret_digital_input, "", {
            {"DI_SOURCE_XLR", "XLR"}, {"DI_SOURCE_BNC", "BNC"}, {"DI_SOURCE_TOSLINK", "TOSLINK"},
            {"DI_SOURCE_GENXLR", "Generator XLR"}, {"DI_SOURCE_GENBNC", "Generator BNC"}}},
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
            values[v.rows[k].first] = code_of_row(k);
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
        names.push_back(v.rows[k].first);
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
        EXPECT_EQ(v.interpret(code_of_row(k), analyser.reader()), v.rows[k].second);
        EXPECT_EQ(analyser.reads, first_names(v, k + 1)) << v.rows[k].first;
    }
    analyser.reads.clear();
    EXPECT_EQ(v.interpret(-7, analyser.reader()), v.unknown.empty() ? "-7" : v.unknown);
    EXPECT_EQ(analyser.reads, first_names(v, v.rows.size()));

    ConstantReader reader = analyser.reader();
    std::swap(analyser.values[v.rows[0].first], analyser.values[v.rows[1].first]);
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].second);
    analyser.values[v.rows[1].first] = analyser.values[v.rows[0].first];
    analyser.reads.clear();
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].second);
    EXPECT_EQ(analyser.reads.size(), 1u);

    analyser.values.erase(v.rows[1].first);
    EXPECT_THROW(v.interpret(code_of_row(2), reader), AutomationError);
    EXPECT_EQ(v.interpret(code_of_row(1), reader), v.rows[0].second);
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
