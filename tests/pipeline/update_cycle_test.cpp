// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>
#include <cmath>
#include <limits>

#include "analyser/conversions.h"
#include "form_fixture.h"

namespace vantel {
namespace {

using testing_support::Panel;

constexpr int kUnitV = 20;

// A started panel whose first polling cycle has run.
struct Polled : Panel {
    Polled() {
        start();
        work_tick();
    }
};

TEST(UpdateCycle, TheFirstTimerCycleIsTheFirstToPollAndRestartsMinMax) {
    Panel p;
    p.start();
    EXPECT_EQ(p.text("Selection_Info1"), "Selected Function");
    p.world.log->clear();
    p.work_tick();
    EXPECT_EQ(p.form->Cycle_Count, 3);
    EXPECT_EQ(p.text("Selection_Info1"), "Amplitude");
    EXPECT_EQ(p.text("Channel_Indicator"), "A");
    EXPECT_EQ(p.form->Current_Unit, p.form->New_Unit);
    EXPECT_EQ(p.text("Label4"), p.text("Label1"));  // restarted at this cycle's reading
}

TEST(UpdateCycle, ReadsTheAnalyserInItsOwnOrder) {
    Polled p;
    p.world.set("CTDetector", "CTD_Unit", Value(kUnitV));
    p.work_tick();  // brings the unit in
    p.world.log->clear();
    p.work_tick();
    // Ranged unit V on the analogue input XLR / BNC; nothing changed, so no status refresh.
    const AccessLog expected = {
        "get CTDetector",
        "get CTDetector.CTD_Unit",
        "get CTDetector",
        "get CTDetector.CTD_WeightingFilter",
        "get CTDetector",
        "get CTDetector.CTD_Response",
        "get CTDetector",
        "get CTDetector.CTD_Relativity",
        "get SignalAnalyzer",
        "get SignalAnalyzer.SA_DefaultWeightingFilter",
        "get CTDetector",
        "get CTDetector.CTD_Function",
        "get SignalAnalyzer",
        "get SignalAnalyzer.SA_Source",
        "get AnalogueInputs",
        "get AnalogueInputs.AI_Source",
        "get AI_SOURCE_BAL_UNBAL",
        "get CTDetector",
        "get CTDetector.CTD_ChA",
        "get UNIT_SECONDS",
        "get UNIT_FREQ_HZ",
        "get UNIT_VP",
        "get UNIT_VPP",
        "get UNIT_W",
        "get UNIT_V",
    };
    ASSERT_GE(p.world.log->size(), expected.size());
    EXPECT_EQ(AccessLog(p.world.log->begin(), p.world.log->begin() + expected.size()), expected);
    // The unit text follows: the unit vocabulary is asked from its first row up to UNIT_V.
    EXPECT_EQ(p.world.log->back(), "get UNIT_V");
}

TEST(UpdateCycle, DigitalInputShowsItsConnectorAndLock) {
    Polled p;
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    struct Row {
        int connector;
        int frame_rate;
        const char* word;
        const char* lock;
    };
    for (const Row& row :
         {Row{0, 48000, "XLR", "Locked: 48kHz"}, Row{2, 44100, "TOSLINK", "Locked: 44.1kHz"},
          Row{1, 0, "BNC", "Unlocked"}}) {
        p.world.sim.set_frame_rate(row.connector, row.frame_rate);
        p.world.set("DigitalInputs", "DI_Source", Value(row.connector));
        p.world.log->clear();
        p.work_tick();
        EXPECT_EQ(p.text("Selection_Info2"), row.word);
        EXPECT_EQ(p.text("Selection_Info5"), "Digital");
        EXPECT_EQ(p.text("Selection_Info4"), row.lock);
        EXPECT_EQ(
            std::count(p.world.log->begin(), p.world.log->end(), "get DigitalInputs.DI_Source"), 2);
    }
    p.world.set("SignalAnalyzer", "SA_Source", Value(0));
    p.work_tick();
    EXPECT_EQ(p.text("Selection_Info5"), "Analogue");
    EXPECT_EQ(p.text("Selection_Info4"), "");
}

TEST(UpdateCycle, OddInputDomainLeavesTheInputLabelsAlone) {
    Polled p;
    p.world.sim.override_value("SignalAnalyzer.SA_Source", Value(2));
    const QString input = p.text("Selection_Info2");
    p.form->Selection_Info5->setText(QStringLiteral("marker"));
    p.work_tick();
    EXPECT_EQ(p.text("Selection_Info5"), "marker");
    EXPECT_EQ(p.text("Selection_Info2"), input);
    EXPECT_FALSE(p.form->ended());
}

// Each kind of status change restarts minimum and maximum at the next cycle.
struct ChangeCase {
    const char* name;
    const char* object;
    const char* member;
    Value value;
    bool restarts;
    int weighting_first = -1;  // a detector weighting to settle on before the change
};

class StatusChange : public testing::TestWithParam<ChangeCase> {};

TEST_P(StatusChange, RestartsMinimumAndMaximum) {
    const ChangeCase& c = GetParam();
    Polled p;
    if (c.weighting_first >= 0) {
        p.world.set("CTDetector", "CTD_WeightingFilter", Value(c.weighting_first));
        p.work_tick();
    }
    p.world.set("CTDetector", "CTD_Unit", Value(kUnitV));
    p.work_tick();
    // Spread minimum and maximum apart, then change the setting.
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(2.0));
    p.work_tick();
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(0.5));
    p.work_tick();
    ASSERT_EQ(p.form->Max_Reading, 2.0);
    ASSERT_EQ(p.form->Min_Reading, 0.5);

    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.25));
    if (std::string(c.object) == "SignalAnalyzer")
        p.world.sim.set_default_weighting(to_code(c.value));
    else
        p.world.set(c.object, c.member, Value(c.value));
    p.work_tick();
    EXPECT_EQ(p.form->Min_Reading, c.restarts ? 1.25 : 0.5);
    EXPECT_EQ(p.form->Max_Reading, c.restarts ? 1.25 : 2.0);
    EXPECT_FALSE(p.form->MaxMin_Reset_Due);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StatusChange,
    testing::Values(ChangeCase{"Unit", "CTDetector", "CTD_Unit", Value(21), true},
                    ChangeCase{"Weighting", "CTDetector", "CTD_WeightingFilter", Value(3), true},
                    ChangeCase{"Response", "CTDetector", "CTD_Response", Value(1), true},
                    ChangeCase{"Relativity", "CTDetector", "CTD_Relativity", Value(1), true},
                    ChangeCase{"DefaultWhileDefault", "SignalAnalyzer", "", Value(4), true, 5},
                    ChangeCase{"DefaultOtherwise", "SignalAnalyzer", "", Value(4), false, 1},
                    ChangeCase{"Function", "CTDetector", "CTD_Function", Value("Balance"), false}),
    testing_support::RowName());

TEST(UpdateCycle, ChannelSwitchKeepsMinimumAndMaximum) {
    Polled p;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.0));
    p.world.sim.override_value("CTDetector.CTD_ChB", Value(3.0));
    p.work_tick();
    p.form->Selected_Channel = "B";
    p.work_tick();
    EXPECT_EQ(p.form->Max_Reading, 3.0);
    EXPECT_LE(p.form->Min_Reading, 1.0);
    EXPECT_EQ(p.text("Channel_Indicator"), "B");
}

TEST(UpdateCycle, BadChannelWarnsAndKeepsTheReading) {
    Polled p;
    const double before = p.form->Current_Reading;
    p.form->Selected_Channel = "a";
    p.work_tick();
    ASSERT_EQ(p.world.messages.size(), 1u);
    EXPECT_EQ(p.world.messages[0].text, "Channel error");
    EXPECT_EQ(p.world.messages[0].title, "Vantel DMM");
    EXPECT_EQ(p.form->Current_Reading, before);
    EXPECT_FALSE(p.form->ended());
}

TEST(UpdateCycle, TicksDuringAModalMessageDoNotStackMessages) {
    testing_support::World world;
    FormEnvironment env = world.environment();
    Form1* form = nullptr;
    int shown = 0;
    env.show_message = [&](const Message&) {
        ++shown;
        for (int i = 0; i < 8; ++i)
            form->Timer1_Timer();  // the timer ticks behind the box
    };
    Form1 modal(env);
    form = &modal;
    modal.Form_Load();
    modal.Selected_Channel = "?";
    for (int i = 0; i < 4; ++i)
        modal.Timer1_Timer();
    EXPECT_EQ(shown, 1);
}

struct OddReading {
    const char* name;
    Value value;
    bool hex;
};

class OverRange : public testing::TestWithParam<OddReading> {};

// A reading that is no usable number shows as over-range; the cycle and min/max go on.
TEST_P(OverRange, ShowsOverAndMinMaxPassItBy) {
    Polled p;
    if (GetParam().hex) {
        p.world.sim.override_value("CTDetector.CTD_Unit",
                                   p.world.sim.application()->get("UNIT_HEX"));
        p.work_tick();
    }
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(3.0));
    p.work_tick();
    const double min = p.form->Min_Reading, max = p.form->Max_Reading;
    const QString min_text = p.text("Label4");

    p.world.sim.override_value("CTDetector.CTD_ChA", GetParam().value);
    p.work_tick();
    EXPECT_FALSE(p.form->ended());
    EXPECT_EQ(p.text("Label1"), "OVER");
    EXPECT_EQ(p.form->Min_Reading, min);
    EXPECT_EQ(p.form->Max_Reading, max);
    EXPECT_EQ(p.text("Label4"), min_text);

    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.0));
    p.work_tick();
    EXPECT_EQ(p.form->Min_Reading, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OverRange,
    testing::Values(OddReading{"NaN", Value(std::numeric_limits<double>::quiet_NaN()), false},
                    OddReading{"Infinity", Value(std::numeric_limits<double>::infinity()), false},
                    OddReading{"Text", Value("-----"), false},
                    OddReading{"HexBeyond32Bits", Value(5e9), true}),
    testing_support::RowName());

TEST(UpdateCycle, AnalyserGoingAwayClosesQuietly) {
    Polled p;
    p.world.sim.set_gone_away(true);
    p.work_tick();
    EXPECT_TRUE(p.form->ended());
    EXPECT_TRUE(p.world.messages.empty());
    EXPECT_EQ(p.world.ends, std::vector<int>{0});
}

TEST(UpdateCycle, CodeBeyondSixteenBitsClosesQuietly) {
    Polled p;
    p.world.sim.override_value("CTDetector.CTD_Response", Value(40000));
    p.work_tick();
    EXPECT_TRUE(p.form->ended());
    EXPECT_TRUE(p.world.messages.empty());
}

TEST(UpdateCycle, RefusedUnitReadKeepsThePreviousUnit) {
    Polled p;
    const auto unit = p.form->Current_Unit;
    p.world.sim.fail_member("CTDetector.CTD_Unit");
    p.work_tick();
    EXPECT_FALSE(p.form->ended());
    EXPECT_EQ(p.form->New_Unit, unit);
}

TEST(UpdateCycle, StatusPollGoesOnPastTheCycleCounterLimit) {
    Polled p;
    p.form->Cycle_Count = std::numeric_limits<std::int16_t>::max() - 1;
    for (int unit : {21, 22, 23}) {
        p.world.set("CTDetector", "CTD_Unit", Value(unit));
        p.work_tick();
        EXPECT_EQ(p.form->Current_Unit, unit);
        EXPECT_GE(p.form->Cycle_Count, 3);
    }
}

TEST(UpdateCycle, ReadingIgnoresACommaDecimalLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the install script provides the de_DE.UTF-8 locale";
    const QLocale saved_qt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Polled p;
    p.world.set("CTDetector", "CTD_Unit", Value(kUnitV));
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(0.0123));
    p.work_tick();
    const QString reading = p.text("Label1"), unit = p.text("Label9");
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(saved_qt);
    EXPECT_EQ(reading, "12.30");
    EXPECT_EQ(unit, "mV");
}

TEST(Hold, FreezesThePanelAndBlinksEverySixHundredMilliseconds) {
    Polled p;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.0));
    p.work_tick();
    const QString shown = p.text("Label1");
    p.form->Hold_On = true;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(9.0));
    p.world.log->clear();
    // Work ticks of 200 ms: visibility flips at every third one.
    std::vector<bool> visible;
    for (int i = 0; i < 9; ++i) {
        p.work_tick();
        visible.push_back(!p.form->Hold_icon->isHidden());
    }
    EXPECT_EQ(visible,
              (std::vector<bool>{true, true, true, false, false, false, true, true, true}));
    EXPECT_TRUE(p.world.log->empty()) << "no cycle runs while held";
    EXPECT_EQ(p.text("Label1"), shown);

    p.form->Hold_On = false;
    p.work_tick();
    EXPECT_TRUE(p.form->Hold_icon->isHidden());
    EXPECT_EQ(p.form->Max_Reading, 9.0);  // min/max continue from their held values
    EXPECT_EQ(p.form->Min_Reading, 1.0);
}

TEST(Hold, ResetWaitsUntilRelease) {
    Polled p;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(2.0));
    p.work_tick();
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(0.5));
    p.work_tick();
    p.form->Hold_On = true;
    p.form->Label4->setText(QStringLiteral(" -- "));
    p.form->Label6->setText(QStringLiteral(" -- "));
    p.form->MaxMin_Reset_Due = true;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.5));
    for (int i = 0; i < 5; ++i)
        p.work_tick();
    EXPECT_EQ(p.text("Label4"), " -- ");
    p.form->Hold_On = false;
    p.work_tick();
    EXPECT_EQ(p.form->Min_Reading, 1.5);
    EXPECT_EQ(p.form->Max_Reading, 1.5);
    EXPECT_EQ(p.text("Label4"), p.text("Label1"));
    EXPECT_EQ(p.text("Label6"), p.text("Label1"));
}

}  // namespace
}  // namespace vantel
