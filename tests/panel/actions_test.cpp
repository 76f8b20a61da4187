// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "form_fixture.h"

namespace vantel {
namespace {

using testing_support::Panel;

// A started panel, its first poll done, with the access log cleared.
struct Ready : Panel {
    Ready() {
        start();
        work_tick();
        world.log->clear();
    }
    std::vector<std::string> writes() const {
        std::vector<std::string> w;
        for (const std::string& line : *world.log)
            if (line.starts_with("set "))
                w.push_back(line);
        return w;
    }
};

struct StepCase {
    const char* name;
    void (Form1::*action)();
    int relativity;  // Current_Relativity before the press
    int current;     // the shown code the key steps from
    const char* written;
};

class SettingKey : public testing::TestWithParam<StepCase> {};

TEST_P(SettingKey, WritesTheNextCode) {
    const StepCase& c = GetParam();
    Ready p;
    Form1& f = *p.form;
    f.Current_Relativity = static_cast<std::int16_t>(c.relativity);
    f.Current_Unit = f.Current_Weighting = f.Current_Response =
        static_cast<std::int16_t>(c.current);
    if (c.action == &Form1::Relativity_button_Action)
        f.Current_Relativity = static_cast<std::int16_t>(c.current);
    (f.*c.action)();
    // What the key asks for, whether or not this analyser takes it.
    const auto w = p.writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_TRUE(w[0].starts_with(c.written)) << w[0];
}

#define UNITS &Form1::Units2_Button_Action
#define WEIGHT &Form1::Weight_button_Action
#define RESP &Form1::Resp_button_Action
#define REL &Form1::Relativity_button_Action

INSTANTIATE_TEST_SUITE_P(
    Cycles, SettingKey,
    testing::Values(StepCase{"UnitV", UNITS, 0, 20, "set CTDetector.CTD_Unit = 21"},
                    StepCase{"UnitVp", UNITS, 0, 21, "set CTDetector.CTD_Unit = 22"},
                    StepCase{"UnitVpp", UNITS, 0, 22, "set CTDetector.CTD_Unit = 23"},
                    StepCase{"UnitDbu", UNITS, 0, 23, "set CTDetector.CTD_Unit = 66"},
                    StepCase{"UnitDbv", UNITS, 0, 66, "set CTDetector.CTD_Unit = 30"},
                    StepCase{"UnitDbm", UNITS, 0, 30, "set CTDetector.CTD_Unit = 31"},
                    StepCase{"UnitW", UNITS, 0, 31, "set CTDetector.CTD_Unit = 32"},
                    StepCase{"UnitDbfs", UNITS, 0, 32, "set CTDetector.CTD_Unit = 20"},
                    StepCase{"UnitUnlisted", UNITS, 0, 9, "set CTDetector.CTD_Unit = 20"},
                    StepCase{"RelativeDb", UNITS, 1, 37, "set CTDetector.CTD_Unit = 38"},
                    StepCase{"RelativePercent", UNITS, 3, 38, "set CTDetector.CTD_Unit = 37"},
                    StepCase{"RelativeOther", UNITS, 2, 40, "set CTDetector.CTD_Unit = 37"},
                    StepCase{"WeightNone", WEIGHT, 0, 0, "set CTDetector.CTD_WeightingFilter = 1"},
                    StepCase{"WeightA", WEIGHT, 0, 1, "set CTDetector.CTD_WeightingFilter = 3"},
                    StepCase{"Weight1k", WEIGHT, 0, 3, "set CTDetector.CTD_WeightingFilter = 4"},
                    StepCase{"Weight2k", WEIGHT, 0, 4, "set CTDetector.CTD_WeightingFilter = 5"},
                    StepCase{"WeightDefault", WEIGHT, 0, 5,
                             "set CTDetector.CTD_WeightingFilter = 0"},
                    StepCase{"RespRms", RESP, 0, 0, "set CTDetector.CTD_Response = 1"},
                    StepCase{"RespQpeak", RESP, 0, 3, "set CTDetector.CTD_Response = 0"},
                    StepCase{"RelAbs", REL, 0, 0, "set CTDetector.CTD_Relativity = 1"},
                    StepCase{"RelChannel", REL, 3, 3, "set CTDetector.CTD_Relativity = 0"},
                    StepCase{"RelNegative", REL, -2, -2, "set CTDetector.CTD_Relativity = -1"}),
    testing_support::RowName());

TEST(UnitsKey, OddRelativityWritesThePolledUnitBack) {
    Ready p;
    p.form->Current_Relativity = 9;
    p.form->New_Unit = 23;
    p.form->Units2_Button_Action();
    EXPECT_EQ(p.writes(), std::vector<std::string>{"set CTDetector.CTD_Unit = 23"});
    EXPECT_EQ(p.text("Label9"), " - - ");
}

struct InvalidCase {
    const char* name;
    void (Form1::*action)();
    int current;
    const char* label;
    const char* placeholder;
    const char* message;
};

class OutOfCycle : public testing::TestWithParam<InvalidCase> {};

TEST_P(OutOfCycle, WarnsWritesNothingAndKeepsThePlaceholder) {
    const InvalidCase& c = GetParam();
    Ready p;
    p.form->Current_Weighting = p.form->Current_Response = static_cast<std::int16_t>(c.current);
    (p.form.get()->*c.action)();
    EXPECT_TRUE(p.writes().empty());
    ASSERT_EQ(p.world.messages.size(), 1u);
    EXPECT_EQ(p.world.messages[0].text, c.message);
    EXPECT_EQ(p.world.messages[0].title, "Vantel DMM");
    EXPECT_EQ(p.world.messages[0].icon, Message::Icon::Warning);
    EXPECT_EQ(p.text(c.label), c.placeholder);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutOfCycle,
                         testing::Values(InvalidCase{"WeightingTwo", WEIGHT, 2, "Label5", " - - ",
                                                     "Invalid Weighting Filter already selected"},
                                         InvalidCase{"WeightingSix", WEIGHT, 6, "Label5", " - - ",
                                                     "Invalid Weighting Filter already selected"},
                                         InvalidCase{"ResponseFour", RESP, 4, "Label10", "- -",
                                                     "Invalid response already selected"},
                                         InvalidCase{"ResponseNegative", RESP, -1, "Label10", "- -",
                                                     "Invalid response already selected"}),
                         testing_support::RowName());

TEST(SettingKeys, TwoPressesBeforeAPollAdvanceOneStep) {
    Ready p;
    p.world.set("CTDetector", "CTD_Unit", Value(20));
    p.work_tick();
    p.world.log->clear();
    for (auto action : {UNITS, WEIGHT, RESP, REL}) {
        (p.form.get()->*action)();
        (p.form.get()->*action)();
    }
    const auto w = p.writes();
    ASSERT_EQ(w.size(), 8u);
    for (std::size_t i = 0; i < w.size(); i += 2)
        EXPECT_EQ(w[i], w[i + 1]);
}

TEST(InputKey, StepsTwiceBeforeAPollInBothDomains) {
    Ready p;
    p.form->Input_Domain = 0;
    p.form->Analogue_Input = 5;
    p.form->InputSel_button_Action();
    p.form->InputSel_button_Action();
    p.form->Input_Domain = 1;
    p.form->Digital_Input = 3;
    p.form->InputSel_button_Action();
    p.form->InputSel_button_Action();
    p.form->Input_Domain = 2;
    p.form->InputSel_button_Action();
    EXPECT_EQ(p.writes(),
              (std::vector<std::string>{
                  "set AnalogueInputs.AI_Source = 3", "set AnalogueInputs.AI_Source = 0",
                  "set DigitalInputs.DI_Source = 4", "set DigitalInputs.DI_Source = 0"}));
}

TEST(DomainKey, TogglesOnWhatTheAnalyserReports) {
    struct Row {
        Value reported;
        const char* written;
    };
    for (const Row& row : {Row{Value(0), "set SignalAnalyzer.SA_Source = 1"},
                           Row{Value(1), "set SignalAnalyzer.SA_Source = 0"},
                           Row{Value(7), "set SignalAnalyzer.SA_Source = 1"}}) {
        Ready p;
        p.world.sim.override_value("SignalAnalyzer.SA_Source", row.reported);
        p.form->AnaDig_button_Action();
        EXPECT_EQ(p.writes(), std::vector<std::string>{row.written}) << row.reported.describe();
    }
    Ready p;
    p.world.sim.fail_member("SignalAnalyzer.SA_Source");
    p.form->AnaDig_button_Action();  // a failed read goes back to analogue; the write fails too
    EXPECT_EQ(p.writes(), std::vector<std::string>{"set SignalAnalyzer.SA_Source = 0 -> failed"});
}

TEST(ChannelKey, TogglesAndRepairsAnOddChannel) {
    Ready p;
    p.form->Channel_button_Action();
    EXPECT_EQ(p.form->Selected_Channel, "B");
    p.form->Channel_button_Action();
    EXPECT_EQ(p.form->Selected_Channel, "A");
    p.form->Selected_Channel = "x";
    p.form->Channel_button_Action();
    EXPECT_EQ(p.form->Selected_Channel, "A");
    EXPECT_FALSE(p.form->MaxMin_Reset_Due);
}

TEST(RefusedWrite, IsIgnoredAndThePanelShowsWhatTheAnalyserHas) {
    Ready p;
    p.world.set("CTDetector", "CTD_Unit", Value(20));
    p.work_tick();
    p.world.sim.fail_member("CTDetector.CTD_Unit");
    p.form->Units2_Button_Action();
    EXPECT_FALSE(p.form->ended());
    p.world.sim.clear_faults();
    p.work_tick();
    p.work_tick();
    EXPECT_EQ(p.form->Current_Unit, 20);
    EXPECT_NE(p.text("Label9"), " - - ");
}

TEST(HoldKey, PlaceholdersStayWhileHeld) {
    Ready p;
    p.form->Hold_button_Action();
    p.form->Reset_button_Action();
    p.form->Relativity_button_Action();
    for (int i = 0; i < 4; ++i)
        p.work_tick();
    EXPECT_EQ(p.text("Label4"), " -- ");
    EXPECT_EQ(p.text("Label6"), " -- ");
    EXPECT_EQ(p.text("Rel_Label"), " - - ");
    p.form->Hold_button_Action();
    p.work_tick();
    EXPECT_EQ(p.text("Label4"), p.text("Label1"));
}

}  // namespace
}  // namespace vantel
