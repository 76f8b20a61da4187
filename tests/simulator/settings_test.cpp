// SPDX-License-Identifier: MIT
// How the simulated analyser takes and refuses settings through its automation members.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "analyser/conversions.h"
#include "row_name.h"
#include "support.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using test::code;
using test::read;
using test::write;

struct RefusedWrite {
    const char* name;
    const char* path;
    Value value;
    friend void PrintTo(const RefusedWrite& row, std::ostream* os) { *os << row.name; }
};

class RefusedWrites : public testing::TestWithParam<RefusedWrite> {};

TEST_P(RefusedWrites, FailNamingTheMemberAndKeepTheSetting) {
    ObjectRef app = Simulator().application();
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

INSTANTIATE_TEST_SUITE_P(
    Analyser, RefusedWrites,
    testing::ValuesIn(std::vector<RefusedWrite>{
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
        // What the generator cannot play: 24 kHz is half the 48 kHz it plays at.
        {"GeneratorFrequencyNaN", "Generator.GEN_Frequency", Value(std::nan(""))},
        {"GeneratorFrequencyNegative", "Generator.GEN_Frequency", Value(-1.0)},
        {"GeneratorFrequencyNyquist", "Generator.GEN_Frequency", Value(24000.0)},
        {"GeneratorLevelNegative", "Generator.GEN_Level", Value(-0.1)},
        {"GeneratorLevelInfinite", "Generator.GEN_Level", Value(INFINITY)},
        {"GeneratorOnAsText", "Generator.GEN_On", Value("yes")},
    }),
    testing_support::RowName());

TEST(Settings, AutomationCoercesNumbersAndNumericText) {
    ObjectRef app = Simulator().application();
    write(*app, "CTDetector.CTD_Unit", Value(" 22"));
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{22}));
    write(*app, "CTDetector.CTD_Unit", Value(22.0));
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{22}));
    // The filter without a name is a filter all the same.
    write(*app, "CTDetector.CTD_WeightingFilter", Value(sim::kUnnamedWeighting));
    EXPECT_EQ(read(*app, "CTDetector.CTD_WeightingFilter"),
              Value(std::int64_t{sim::kUnnamedWeighting}));
}

// Relative measurement and the frequency function move the unit; their end restores the last
// level unit.
TEST(Settings, RelativityAndFrequencyMoveTheUnitAndBack) {
    ObjectRef app = Simulator().application();
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

}  // namespace
}  // namespace vantel
