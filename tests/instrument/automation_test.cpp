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
    {"STATUS_NO_INPUT", kOurs}, {"STATUS_OVERLOAD", kOurs}, {"STATUS_DROPOUT", kOurs},
    {"STATUS_SETTLING", kOurs}, {"STATUS_INVALID_SAMPLES", kOurs}, {"STATUS_UNCALIBRATED", kOurs},
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
                                      {E::DigitalSource, 5},
                                      {E::Status, 6}}) {
        std::set<std::int16_t> codes;
        for (const instrument::NamedConstant& c : instrument::kConstants)
            if (c.enumeration == enumeration) {
                EXPECT_TRUE(codes.insert(c.code).second) << c.name << " repeats a code";
            }
        EXPECT_EQ(codes.size(), count) << static_cast<int>(enumeration);
    }
    EXPECT_FALSE(instrument::is_member(E::Weighting, instrument::kUnnamedWeighting));
    // Status flags combine: each is a bit of its own.
    int all_flags = 0;
    for (const instrument::NamedConstant& c : instrument::kConstants)
        if (c.enumeration == E::Status) {
            EXPECT_TRUE(c.code > 0 && (c.code & (c.code - 1)) == 0) << c.name << " is no bit";
            all_flags |= c.code;
        }
    EXPECT_EQ(all_flags, 63);
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
    {"FullScaleZero", "AnalogueInputs.AI_FullScaleA", Value(0.0)},
    {"FullScaleNegative", "AnalogueInputs.AI_FullScaleB", Value(-1.0)},
    {"FullScaleNotANumber", "AnalogueInputs.AI_FullScaleA", Value(NAN)},
    {"FullScaleInfinite", "AnalogueInputs.AI_FullScaleB", Value(INFINITY)},
    {"FullScaleAsWord", "AnalogueInputs.AI_FullScaleA", Value("ten")},
    {"StatusIsReadOnly", "SignalAnalyzer.SA_Status", Value(0)},
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

    write(*app, "CTDetector.CTD_Function", Value("Frequency"));
    EXPECT_EQ(unit(), code("UNIT_FREQ_HZ"));
    EXPECT_NEAR(to_double(read(*app, "CTDetector.CTD_ChA")), 1000.0, 1.0);
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V"))), AutomationError);
}

// Each function keeps its own detector settings, from a bench instrument's defaults, and gets
// them back when it is chosen again.
TEST(Settings, EachFunctionKeepsItsOwnSettings) {
    ObjectRef app = Analyser().application();
    auto detector = [&] {
        std::string d;
        for (const char* member :
             {"CTD_Unit", "CTD_WeightingFilter", "CTD_Response", "CTD_Relativity", "CTD_Function"})
            d += read(*app, std::string("CTDetector.") + member).describe() + " ";
        return d;
    };
    auto choose = [&](const char* function) {
        write(*app, "CTDetector.CTD_Function", Value(function));
        return detector();
    };
    // Unit, weighting, response, relativity: V, none, RMS, absolute; THD+N in %, the ratios in
    // dB, noise weighted as its name says.
    EXPECT_EQ(detector(), "20 0 0 0 \"Amplitude\" ");
    EXPECT_EQ(choose("THD+N - relative"), "38 0 0 0 \"THD+N - relative\" ");
    EXPECT_EQ(choose("Balance"), "37 0 0 0 \"Balance\" ");
    EXPECT_EQ(choose("Cross-talk"), "37 0 0 0 \"Cross-talk\" ");
    EXPECT_EQ(choose("Noise (A-weighted)"), "20 1 0 0 \"Noise (A-weighted)\" ");
    EXPECT_EQ(choose("Noise (CCIR-468)"), "20 3 0 0 \"Noise (CCIR-468)\" ");
    EXPECT_EQ(choose("Noise (RMS)"), "20 0 0 0 \"Noise (RMS)\" ");
    EXPECT_EQ(choose("Frequency"), "10 0 0 0 \"Frequency\" ");
    EXPECT_EQ(read(*app, "SignalAnalyzer.SA_DefaultWeightingFilter"), Value(std::int64_t{0}));

    // A function whose name implies its filter keeps it; the others take any.
    write(*app, "CTDetector.CTD_Function", Value("Noise (A-weighted)"));
    EXPECT_THROW(write(*app, "CTDetector.CTD_WeightingFilter", Value(3)), AutomationError);
    write(*app, "CTDetector.CTD_Response", Value(3));
    write(*app, "CTDetector.CTD_Function", Value("Amplitude"));
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_DBU")));
    write(*app, "CTDetector.CTD_WeightingFilter", Value(3));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_GEN")));
    // THD+N reads its ratio in % while absolute, or its residual in volts; going relative and
    // back keeps its ratio unit.
    write(*app, "CTDetector.CTD_Function", Value("THD+N - relative"));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_SELF")));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_ABS")));
    EXPECT_EQ(detector(), "38 0 0 0 \"THD+N - relative\" ");
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V")));
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_RELATIVE_DB")));
    EXPECT_EQ(choose("Noise (A-weighted)"), "20 1 3 0 \"Noise (A-weighted)\" ");
    EXPECT_EQ(choose("Amplitude"), "37 3 0 2 \"Amplitude\" ");
    EXPECT_EQ(choose("THD+N - relative"), "37 0 0 0 \"THD+N - relative\" ");
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
