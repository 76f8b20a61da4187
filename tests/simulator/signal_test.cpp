// SPDX-License-Identifier: MIT
// Readings of the signal model against hand-computed references. Tolerances: 1e-6 in the unit
// for the exact arithmetic, 0.1 dB against the published tables of the weighting curves (whose
// A-weighting rows are at the exact band centres: "31.5 Hz" is 10^1.5 Hz).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analyser/conversions.h"
#include "row_name.h"
#include "simulator/units.h"
#include "support.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using test::code;
using test::write;

constexpr double kExact = 1e-6;

class SignalFixture : public testing::Test {
protected:
    void SetUp() override {
        sim.set_signal(test::exact_signal());
        set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_NONE");
    }
    void set(const char* path, const char* constant) { write(*app, path, Value(code(constant))); }
    double reading(const char* channel = "CTD_ChA") {
        return to_double(get_member(*app, "CTDetector", channel));
    }
    void change_signal(auto change) {
        sim::SignalSettings s = sim.signal();
        change(s);
        sim.set_signal(s);
    }

    test::FakeTime time;
    Simulator sim{time.options()};
    ObjectRef app = sim.application();
};

struct UnitRow {
    const char* unit;
    double level_v;
    double expected;
    const char* name;
};

class UnitConversion : public SignalFixture, public testing::WithParamInterface<UnitRow> {};

TEST_P(UnitConversion, SineLevelInTheDetectorsUnit) {
    sim.set_generator(GetParam().level_v, 1000.0);
    set("CTDetector.CTD_Unit", GetParam().unit);
    EXPECT_NEAR(reading(), GetParam().expected, kExact);
}

INSTANTIATE_TEST_SUITE_P(Analogue, UnitConversion,
                         testing::ValuesIn(std::vector<UnitRow>{
                             {"UNIT_V", 1.0, 1.0, "Volt"},
                             {"UNIT_VP", 1.0, 1.41421356, "VoltPeak"},
                             {"UNIT_VPP", 1.0, 2.82842712, "VoltPeakToPeak"},
                             {"UNIT_DBU", 1.0, 2.21848750, "DbuOfOneVolt"},
                             {"UNIT_DBV", 0.1, -20.0, "DbvOfTenthVolt"},
                             {"UNIT_DBM", 1.0, 2.21848750, "DbmOneVoltIs1667MicrowattInto600Ohm"},
                             {"UNIT_W", 1.0, 0.125, "WattOneVoltInto8Ohm"},
                             {"UNIT_DBFS", 1.0, -20.0, "DbfsAgainstTenVoltFullScale"},
                             {"UNIT_FS", 2.5, 25.0, "PercentOfFullScale"},
                         }),
                         testing_support::RowName());

TEST_F(SignalFixture, DigitalInputReadsAgainstDigitalFullScaleAndIsSilentWhenUnlocked) {
    sim.set_generator(0.5, 1000.0);
    write(*app, "SignalAnalyzer.SA_Source", Value(sim::kDigitalDomain));
    set("DigitalInputs.DI_Source", "DI_SOURCE_XLR");
    set("CTDetector.CTD_Unit", "UNIT_DBFS");
    EXPECT_NEAR(reading(), -6.0205999, kExact);
    set("DigitalInputs.DI_Source", "DI_SOURCE_BNC");  // nothing connected
    EXPECT_NEAR(reading(), -240.0, kExact);
}

TEST_F(SignalFixture, RelativeReadingsUseTheReferenceOfTheRelativity) {
    change_signal([](sim::SignalSettings& s) { s.dut[1].gain = 0.5; });
    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_GEN");
    EXPECT_NEAR(reading("CTD_ChB"), -6.0205999, kExact);
    set("CTDetector.CTD_Unit", "UNIT_RELATIVE_PERCENT");
    EXPECT_NEAR(reading("CTD_ChB"), 50.0, kExact);

    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_CHANNEL");
    EXPECT_NEAR(reading("CTD_ChA"), 200.0, kExact);
    EXPECT_NEAR(reading("CTD_ChB"), 50.0, kExact);

    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_SELF");  // the reference is taken now
    sim.set_generator(2.0, 1000.0);
    EXPECT_NEAR(reading("CTD_ChA"), 200.0, kExact);
    EXPECT_NEAR(reading("CTD_ChB"), 200.0, kExact);
}

TEST_F(SignalFixture, RatioFunctionsMeasureAgainstTheirOwnReference) {
    change_signal([](sim::SignalSettings& s) {
        s.dut[0] = {.gain = 1.0, .noise_v = 30e-6, .thd = 1.5e-5, .crosstalk = 1e-5};
        s.dut[1].gain = 0.988;
    });
    write(*app, "CTDetector.CTD_Function", Value("THD+N - relative"));
    EXPECT_NEAR(reading(), 3.3541020e-5, 1e-12) << "residual in volts";
    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_CHANNEL");
    set("CTDetector.CTD_Unit", "UNIT_RELATIVE_PERCENT");
    EXPECT_NEAR(reading(), 0.0033541020, 1e-10);

    set("CTDetector.CTD_Unit", "UNIT_RELATIVE_DB");
    write(*app, "CTDetector.CTD_Function", Value("Balance"));
    EXPECT_NEAR(reading("CTD_ChA"), 0.1048611, kExact);
    EXPECT_NEAR(reading("CTD_ChB"), -0.1048611, kExact);
    write(*app, "CTDetector.CTD_Function", Value("Cross-talk"));
    EXPECT_NEAR(reading("CTD_ChA"), -100.0, kExact);
}

TEST_F(SignalFixture, NoiseIsTheWeightedFloorAlone) {
    change_signal([](sim::SignalSettings& s) { s.dut[0].noise_v = 30e-6; });
    write(*app, "CTDetector.CTD_Function", Value("Noise (unweighted)"));
    const double unweighted = reading();
    EXPECT_NEAR(unweighted, 30e-6, 1e-12);
    write(*app, "CTDetector.CTD_Function", Value("Noise (A-weighted)"));
    EXPECT_LT(reading(), unweighted);
    write(*app, "CTDetector.CTD_Function", Value("Noise (CCIR-468)"));
    EXPECT_GT(reading(), 2.0 * unweighted);
}

TEST_F(SignalFixture, ToneGoesThroughTheDetectorsOrTheDefaultFilter) {
    sim.set_generator(1.0, 100.0);
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_AWEIGHTING");
    const double a_weighted_100hz = std::pow(10.0, -19.1 / 20.0);
    EXPECT_NEAR(reading(), a_weighted_100hz, a_weighted_100hz * 0.012);  // +-0.1 dB
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_DEFAULT");      // the default is A
    EXPECT_NEAR(reading(), a_weighted_100hz, a_weighted_100hz * 0.012);
    sim.set_default_weighting(static_cast<int>(code("CTD_WEIGHTING_NONE")));
    EXPECT_NEAR(reading(), 1.0, kExact);
}

TEST_F(SignalFixture, InputSourceDecidesWhatEachChannelSees) {
    change_signal([](sim::SignalSettings& s) {
        s.dut[0].gain = 0.5;
        s.dut[1].gain = 0.25;
    });
    const struct {
        const char* source;
        double a, b;
    } rows[] = {{"AI_SOURCE_BAL_UNBAL", 0.5, 0.25},
                {"AI_SOURCE_GENOUTPUT", 1.0, 1.0},
                {"AI_SOURCE_CHA", 0.5, 0.5},
                {"AI_SOURCE_CHB", 0.25, 0.25}};
    for (const auto& row : rows) {
        set("AnalogueInputs.AI_Source", row.source);
        EXPECT_NEAR(reading("CTD_ChA"), row.a, kExact) << row.source;
        EXPECT_NEAR(reading("CTD_ChB"), row.b, kExact) << row.source;
    }
    write(*app, "SignalAnalyzer.SA_Source", Value(sim::kDigitalDomain));
    set("DigitalInputs.DI_Source", "DI_SOURCE_GENBNC");  // the generator looped back
    EXPECT_NEAR(reading("CTD_ChB"), 1.0, kExact);
}

struct CurvePoint {
    const char* filter;
    double frequency_hz;
    double expected_db;
    const char* name;
};

class WeightingCurve : public testing::TestWithParam<CurvePoint> {};

TEST_P(WeightingCurve, MatchesThePublishedTable) {
    const double gain = sim::weighting_gain(static_cast<std::int16_t>(code(GetParam().filter)),
                                            GetParam().frequency_hz);
    EXPECT_NEAR(20.0 * std::log10(gain), GetParam().expected_db, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Filters, WeightingCurve,
                         testing::ValuesIn(std::vector<CurvePoint>{
                             {"CTD_WEIGHTING_AWEIGHTING", 31.6228, -39.4, "A_31Hz6"},
                             {"CTD_WEIGHTING_AWEIGHTING", 100.0, -19.1, "A_100Hz"},
                             {"CTD_WEIGHTING_CCIR468_1K", 6300.0, 12.2, "Ccir1k_6k3Hz"},
                             {"CTD_WEIGHTING_CCIR468_1K", 20000.0, -22.2, "Ccir1k_20kHz"},
                             {"CTD_WEIGHTING_CCIR468_2K", 1000.0, -5.6, "Ccir2k_1kHz"},
                             {"CTD_WEIGHTING_CCIR468_2K", 2000.0, 0.0, "Ccir2k_2kHz"},
                         }),
                         testing_support::RowName());

TEST(SignalWander, SameSeedGivesTheSameReadingsAndAnotherSeedOthers) {
    auto readings = [](std::uint64_t seed) {
        test::FakeTime time;
        Simulator sim(time.options(seed));
        ObjectRef app = sim.application();
        std::vector<double> out;
        for (int i = 0; i < 20; ++i, time.now_s += 0.2) {
            out.push_back(to_double(get_member(*app, "CTDetector", "CTD_ChA")));
            out.push_back(to_double(get_member(*app, "CTDetector", "CTD_ChB")));
        }
        return out;
    };
    EXPECT_EQ(readings(7), readings(7));
    EXPECT_NE(readings(7), readings(8));
}

TEST(SignalWander, MinimumAndMaximumMoveApartOnAPanelPollingEvery200ms) {
    test::FakeTime time;
    Simulator sim(time.options());
    ObjectRef app = sim.application();
    std::vector<double> seen;
    for (int i = 0; i < 150; ++i, time.now_s += 0.2)
        seen.push_back(to_double(get_member(*app, "CTDetector", "CTD_ChA")));
    const auto [low, high] = std::ranges::minmax(seen);
    EXPECT_GT(high - low, 1e-3) << "a four-figure display of 1 V would not move";
    EXPECT_LT(high - low, 2e-2) << "the level wanders more than a steady source would";
}

}  // namespace
}  // namespace vantel
