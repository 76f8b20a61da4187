// SPDX-License-Identifier: MIT
// How the simulated analyser takes and refuses settings through its automation members.
#include <gtest/gtest.h>

#include <string>

#include "analyser/conversions.h"
#include "row_name.h"
#include "simulator/functions.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::read;
using test::write;

struct RefusedWrite {
    const char* name;
    const char* path;
    Value value;
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
    testing::Values(
        RefusedWrite{"UnitNoCode", "CTDetector.CTD_Unit", Value(9999)},
        RefusedWrite{"UnitBeyond16Bits", "CTDetector.CTD_Unit", Value(70000)},
        RefusedWrite{"UnitWithFraction", "CTDetector.CTD_Unit", Value(21.5)},
        RefusedWrite{"UnitDetectorCannotReadIn", "CTDetector.CTD_Unit", Value(code("UNIT_HEX"))},
        RefusedWrite{"RelativeUnitWhileAbsolute", "CTDetector.CTD_Unit", Value(37)},
        RefusedWrite{"FrequencyUnitForAmplitude", "CTDetector.CTD_Unit",
                     Value(code("UNIT_FREQ_HZ"))},
        RefusedWrite{"WeightingSix", "CTDetector.CTD_WeightingFilter", Value(6)},
        RefusedWrite{"ResponseFour", "CTDetector.CTD_Response", Value(4)},
        RefusedWrite{"RelativityFour", "CTDetector.CTD_Relativity", Value(4)},
        RefusedWrite{"FunctionInLowerCase", "CTDetector.CTD_Function", Value("amplitude")},
        RefusedWrite{"FunctionByNumber", "CTDetector.CTD_Function", Value(1)},
        RefusedWrite{"DomainTwo", "SignalAnalyzer.SA_Source", Value(2)},
        RefusedWrite{"AnalogueSourceSix", "AnalogueInputs.AI_Source", Value(6)},
        RefusedWrite{"DigitalSourceFive", "DigitalInputs.DI_Source", Value(5)},
        RefusedWrite{"ReadingIsReadOnly", "CTDetector.CTD_ChA", Value(1.0)},
        RefusedWrite{"FrameRateIsReadOnly", "DigitalInputs.DI_FrameRate", Value(44100)},
        RefusedWrite{"IsInitialisedIsReadOnly", "IsInitialised", Value(AutoBool::False)}),
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
    // The option keeps an odd value as it came, for the panel to put back unchanged.
    write(*app, "Options.OPT_UseSettlingsFromScripts", Value(7));
    EXPECT_EQ(read(*app, "Options.OPT_UseSettlingsFromScripts"), Value(7));
}

TEST(Settings, EveryFunctionNameIsTakenAndReportedBack) {
    ObjectRef app = Simulator().application();
    for (const sim::MeasurementFunction& f : sim::kFunctions) {
        write(*app, "CTDetector.CTD_Function", Value(std::string(f.name)));
        EXPECT_EQ(read(*app, "CTDetector.CTD_Function"), Value(std::string(f.name)));
    }
}

TEST(Settings, RelativityMovesTheUnitAndBack) {
    ObjectRef app = Simulator().application();
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_DBU")));
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_SELF")));
    EXPECT_EQ(to_code(read(*app, "CTDetector.CTD_Unit")), code("UNIT_RELATIVE_DB"));

    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_RELATIVE_PERCENT")));
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V"))), AutomationError);
    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_CHANNEL")));
    EXPECT_EQ(to_code(read(*app, "CTDetector.CTD_Unit")), code("UNIT_RELATIVE_PERCENT"));

    write(*app, "CTDetector.CTD_Relativity", Value(code("CTD_RELATIVITY_ABS")));
    EXPECT_EQ(to_code(read(*app, "CTDetector.CTD_Unit")), code("UNIT_DBU"));
}

TEST(Settings, FrequencyFunctionReadsInHertzAndReturnsToTheLastLevelUnit) {
    ObjectRef app = Simulator().application();
    write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_DBV")));
    write(*app, "CTDetector.CTD_Function", Value("Frequency"));
    EXPECT_EQ(to_code(read(*app, "CTDetector.CTD_Unit")), code("UNIT_FREQ_HZ"));
    EXPECT_NEAR(to_double(read(*app, "CTDetector.CTD_ChA")), 1000.0, 1.0);
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(code("UNIT_V"))), AutomationError);
    write(*app, "CTDetector.CTD_Function", Value("Noise"));
    EXPECT_EQ(to_code(read(*app, "CTDetector.CTD_Unit")), code("UNIT_DBV"));
}

TEST(Settings, FrameRateFollowsTheSelectedConnector) {
    Simulator sim;
    ObjectRef app = sim.application();
    const std::pair<const char*, std::int64_t> rates[] = {
        {"DI_SOURCE_XLR", 48000},    {"DI_SOURCE_BNC", 0},        {"DI_SOURCE_TOSLINK", 44100},
        {"DI_SOURCE_GENXLR", 48000}, {"DI_SOURCE_GENBNC", 96000},
    };
    for (auto [connector, hz] : rates) {
        write(*app, "DigitalInputs.DI_Source", Value(code(connector)));
        EXPECT_EQ(read(*app, "DigitalInputs.DI_FrameRate"), Value(hz)) << connector;
    }
    sim.set_frame_rate(static_cast<int>(code("DI_SOURCE_BNC")), 192000);
    write(*app, "DigitalInputs.DI_Source", Value(code("DI_SOURCE_BNC")));
    EXPECT_EQ(read(*app, "DigitalInputs.DI_FrameRate"), Value(std::int64_t{192000}));
}

}  // namespace
}  // namespace vantel
