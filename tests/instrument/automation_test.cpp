// SPDX-License-Identifier: MIT
// Our analyser through its automation members: the named constants, how it takes and
// refuses settings, and its scripted misbehaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "automation/conversions.h"
#include "row_name.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::read;
using test::write;
using testing_support::PrintTo;

constexpr std::int64_t kOurs = -1;  // a code of our choosing; only its distinctness matters

// Every name the panel reads, with the code where the panel also writes or tests it as a number.
// clang-format off
constexpr std::pair<const char*, std::int64_t> kPanelNames[] = {
    {"UNIT_NULL", 0}, {"UNIT_SECONDS", kOurs}, {"UNIT_MS", kOurs}, {"UNIT_FREQ_HZ", kOurs},
    {"UNIT_FREQ_OFFSET", kOurs}, {"UNIT_FREQ_RATIO", kOurs}, {"UNIT_DBFS", 32},
    {"UNIT_FS", kOurs}, {"UNIT_FFS", kOurs}, {"UNIT_HEX", kOurs}, {"UNIT_VRMS", kOurs},
    {"UNIT_VP", 21}, {"UNIT_VPP", 22}, {"UNIT_DBU", 23}, {"UNIT_DBV", 66}, {"UNIT_DBM", 30},
    {"UNIT_W", 31}, {"UNIT_DBR", kOurs}, {"UNIT_PERCENTREF", kOurs}, {"UNIT_RELATIVE_DB", 37},
    {"UNIT_RELATIVE_PERCENT", 38}, {"UNIT_JITTER_UI", kOurs}, {"UNIT_JITTER_NS", kOurs},
    {"UNIT_PHASE_UI", kOurs}, {"UNIT_PHASE_PERCENT", kOurs}, {"UNIT_PHASE_SAMPLES", kOurs},
    {"UNIT_PHASE_DEGREES", kOurs}, {"UNIT_PHASE_RADIANS", kOurs}, {"UNIT_PHASE_US", kOurs},
    {"UNIT_DUTYCYCLE_PERCENT", kOurs}, {"UNIT_DUTYCYCLE_SAMPLES", kOurs}, {"UNIT_V", 20},
    {"UNIT_PPM", kOurs},
    {"CTD_WEIGHTING_NONE", 0}, {"CTD_WEIGHTING_AWEIGHTING", 1}, {"CTD_WEIGHTING_CCIR468_1K", 3},
    {"CTD_WEIGHTING_CCIR468_2K", 4}, {"CTD_WEIGHTING_DEFAULT", 5},
    {"CTD_RESPONSE_RMS", 0}, {"CTD_RESPONSE_PEAK", 1}, {"CTD_RESPONSE_PEAKSAMPLE", 2},
    {"CTD_RESPONSE_QPEAK", 3},
    {"CTD_RELATIVITY_ABS", 0}, {"CTD_RELATIVITY_SELF", 1}, {"CTD_RELATIVITY_GEN", 2},
    {"CTD_RELATIVITY_CHANNEL", 3},
    {"AI_SOURCE_BAL_UNBAL", 0}, {"AI_SOURCE_JITTERDEMOD_FS", kOurs},
    {"AI_SOURCE_JITTERDEMOD_DATA", kOurs}, {"AI_SOURCE_GENOUTPUT", 3}, {"AI_SOURCE_CHA", kOurs},
    {"AI_SOURCE_CHB", kOurs},
    {"DI_SOURCE_XLR", 0}, {"DI_SOURCE_BNC", 1}, {"DI_SOURCE_TOSLINK", 2},
    {"DI_SOURCE_GENXLR", 3}, {"DI_SOURCE_GENBNC", 4},
};
// clang-format on

TEST(Constants, ApplicationPublishesEveryNameWithTheFixedCodes) {
    ObjectRef app = Analyser().application();
    for (auto [name, fixed] : kPanelNames) {
        const Value v = app->get(name);
        ASSERT_EQ(v.kind(), Value::Kind::Integer) << name;
        if (fixed != kOurs) {
            EXPECT_EQ(v.as_integer(), fixed) << name;
        }
    }
    EXPECT_EQ(std::size(kPanelNames), instrument::kConstants.size())
        << "names the panel never reads";
    EXPECT_THROW(app->set("UNIT_V", Value(5)), AutomationError);
    EXPECT_EQ(app->get("UNIT_V"), Value(std::int64_t{20}));
    EXPECT_THROW(app->get("UNIT_VOLTS"), AutomationError);
}

TEST(Constants, EachEnumerationHasItsMembersWithDistinctCodes) {
    using E = instrument::Enumeration;
    for (auto [enumeration, count] : {std::pair<E, std::size_t>{E::Unit, 33},
                                      {E::Weighting, 5},
                                      {E::Response, 4},
                                      {E::Relativity, 4},
                                      {E::AnalogueSource, 6},
                                      {E::DigitalSource, 5}}) {
        std::set<std::int16_t> codes;
        for (const instrument::NamedConstant& c : instrument::kConstants)
            if (c.enumeration == enumeration) {
                EXPECT_TRUE(codes.insert(c.code).second) << c.name << " repeats a code";
            }
        EXPECT_EQ(codes.size(), count) << static_cast<int>(enumeration);
    }
    EXPECT_FALSE(instrument::is_member(E::Weighting, instrument::kUnnamedWeighting));
}

struct RefusedWrite {
    const char* name;
    const char* path;
    Value value;
};

class RefusedWrites : public testing::TestWithParam<RefusedWrite> {};

TEST_P(RefusedWrites, FailNamingTheMemberAndKeepTheSetting) {
    ObjectRef app = Analyser().application();
    const Value before = read(*app, GetParam().path);
    try {
        write(*app, GetParam().path, GetParam().value);
        FAIL() << GetParam().value.describe() << " was taken";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), GetParam().path);
        EXPECT_FALSE(e.reason().empty());
    }
    if (std::string_view(GetParam().path) != "CTDetector.CTD_ChA") {  // a reading moves anyway
        EXPECT_EQ(read(*app, GetParam().path), before);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Analyser, RefusedWrites, testing::ValuesIn(std::vector<RefusedWrite>{
    {"UnitNoCode", "CTDetector.CTD_Unit", Value(9999)},
    {"UnitBeyond16Bits", "CTDetector.CTD_Unit", Value(70000)},
    {"UnitWithFraction", "CTDetector.CTD_Unit", Value(21.5)},
    {"UnitDetectorCannotReadIn", "CTDetector.CTD_Unit", Value(code("UNIT_HEX"))},
    {"RelativeUnitWhileAbsolute", "CTDetector.CTD_Unit", Value(37)},
    {"FrequencyUnitForAmplitude", "CTDetector.CTD_Unit", Value(code("UNIT_FREQ_HZ"))},
    {"WeightingSix", "CTDetector.CTD_WeightingFilter", Value(6)},
    {"ResponseFour", "CTDetector.CTD_Response", Value(4)},
    {"RelativityFour", "CTDetector.CTD_Relativity", Value(4)},
    {"FunctionInLowerCase", "CTDetector.CTD_Function", Value("amplitude")},
    {"FunctionByNumber", "CTDetector.CTD_Function", Value(1)},
    {"DomainTwo", "SignalAnalyzer.SA_Source", Value(2)},
    {"AnalogueSourceSix", "AnalogueInputs.AI_Source", Value(6)},
    {"DigitalSourceFive", "DigitalInputs.DI_Source", Value(5)},
    {"ReadingIsReadOnly", "CTDetector.CTD_ChA", Value(1.0)},
    {"FrameRateIsReadOnly", "DigitalInputs.DI_FrameRate", Value(44100)},
    {"IsInitialisedIsReadOnly", "IsInitialised", Value(AutoBool::False)},
    // What the generator cannot play (its own tests hold the rest): half its 48 kHz and more.
    {"GeneratorFrequencyNyquist", "Generator.GEN_Frequency", Value(24000.0)},
    {"GeneratorLevelInfinite", "Generator.GEN_Level", Value(INFINITY)},
    {"GeneratorOnAsText", "Generator.GEN_On", Value("yes")},
}), testing_support::RowName());
// clang-format on

TEST(Settings, AutomationCoercesNumbersAndNumericText) {
    ObjectRef app = Analyser().application();
    write(*app, "CTDetector.CTD_Unit", Value(" 22"));
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{22}));
    write(*app, "CTDetector.CTD_Unit", Value(22.0));
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{22}));
    // The filter without a name is a filter all the same.
    write(*app, "CTDetector.CTD_WeightingFilter", Value(instrument::kUnnamedWeighting));
    EXPECT_EQ(read(*app, "CTDetector.CTD_WeightingFilter"),
              Value(std::int64_t{instrument::kUnnamedWeighting}));
}

// Relative measurement and the frequency function move the unit; their end restores it.
TEST(Settings, RelativityAndFrequencyMoveTheUnitAndBack) {
    ObjectRef app = Analyser().application();
    auto unit = [&] { return to_code(read(*app, "CTDetector.CTD_Unit")); };
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_DBU")));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_SELF")));
    EXPECT_EQ(unit(), code("UNIT_RELATIVE_DB"));
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_RELATIVE_PERCENT")));
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V"))), AutomationError);
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_CHANNEL")));
    EXPECT_EQ(unit(), code("UNIT_RELATIVE_PERCENT"));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_ABS")));
    EXPECT_EQ(unit(), code("UNIT_DBU"));

    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_DBV")));
    write(*app, "CTDetector.CTD_Function", Value("Frequency"));
    EXPECT_EQ(unit(), code("UNIT_FREQ_HZ"));
    EXPECT_NEAR(to_double(read(*app, "CTDetector.CTD_ChA")), 1000.0, 1.0);
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V"))), AutomationError);
    write(*app, "CTDetector.CTD_Function", Value("Noise"));
    EXPECT_EQ(unit(), code("UNIT_DBV"));
}

// A failed member fails alone until cleared; a sub-object fetched before a fetch fails still
// works; gone away, every access fails, earlier objects' too.
TEST(Faults, FailedMembersSubObjectsAndGoneAway) {
    Analyser analyser;
    ObjectRef app = analyser.application();
    ObjectRef options = get_object(*app, "Options"), earlier = get_object(*app, "CTDetector");
    analyser.fail_member("CTDetector.CTD_Unit", "busy measuring");
    try {
        read(*app, "CTDetector.CTD_Unit");
        FAIL() << "the read succeeded";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_EQ(e.reason(), "busy measuring");
    }
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(21)), AutomationError);
    EXPECT_NO_THROW(read(*app, "CTDetector.CTD_Response"));
    analyser.clear_faults();
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{20})) << "write reached it";

    analyser.fail_member("CTDetector", "refused by the test", 1);
    write(*app, "CTDetector.CTD_Response", Value(3));  // the one good fetch
    EXPECT_THROW(read(*app, "CTDetector.CTD_Response"), AutomationError);
    EXPECT_EQ(earlier->get("CTD_Response"), Value(std::int64_t{3}));
    analyser.clear_faults();

    analyser.set_gone_away(true);
    for (const char* path : {"IsInitialised", "UNIT_V", "CTDetector", "CTDetector.CTD_ChA"})
        EXPECT_THROW(read(*app, path), AutomationError) << path;
    EXPECT_THROW(options->set("OPT_UseSettlingsFromScripts", Value(AutoBool::False)),
                 AutomationError);
    analyser.set_gone_away(false);
    EXPECT_EQ(options->get("OPT_UseSettlingsFromScripts"), Value(AutoBool::True));
}

}  // namespace
}  // namespace vantel
