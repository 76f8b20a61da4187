// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "form_fixture.h"

namespace vantel {
namespace {

using testing_support::Polled;
using Strings = std::vector<std::string>;

struct Key {
    void (Form1::*action)();
    const char* label;  // shows `placeholder` from the press until the next status refresh
    const char* placeholder;
};
constexpr Key units{&Form1::Units2_Button_Action, "Label9", " - - "};
constexpr Key weight{&Form1::Weight_button_Action, "Label5", " - - "};
constexpr Key resp{&Form1::Resp_button_Action, "Label10", "- -"};
constexpr Key rel{&Form1::Relativity_button_Action, "Rel_Label", " - - "};

struct KeyCase {
    const char* name;
    Key key;
    int relativity;      // Current_Relativity before the press
    int current;         // the shown code the key steps from
    const char* result;  // the write, or the warning shown instead
};

class SettingKey : public testing::TestWithParam<KeyCase> {};

// Keys step from what the panel last showed, so a second press before the next poll repeats the
// first; what a key asks for is written whether or not the analyser takes it.
TEST_P(SettingKey, ShowsItsPlaceholderAndWritesTheNextCodeOrWarns) {
    const KeyCase& c = GetParam();
    Polled p;
    Form1& f = *p.form;
    f.Current_Unit = f.Current_Weighting = f.Current_Response =
        static_cast<std::int16_t>(c.current);
    f.Current_Relativity =
        static_cast<std::int16_t>(c.key.action == rel.action ? c.current : c.relativity);
    (f.*c.key.action)();
    (f.*c.key.action)();
    Strings w = p.world.writes();
    const bool refused = !w.empty() && w.back().ends_with(" -> failed");
    // A refused write is covered by RefusedSettingKey below.
    if (!refused) {
        EXPECT_EQ(p.text(c.key.label), c.key.placeholder);
    }
    for (std::string& line : w)
        line = line.substr(0, line.find(" -> "));
    const bool writes = std::string_view(c.result).starts_with("set ");
    EXPECT_EQ(w, Strings(writes ? 2 : 0, c.result));
    ASSERT_EQ(p.world.messages.size(), writes ? 0u : 2u);
    for (const Message& m : p.world.messages) {
        EXPECT_EQ(m.text, c.result);
        EXPECT_EQ(m.title, "Vantel DMM");
        EXPECT_EQ(m.icon, Message::Icon::Warning);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cycles, SettingKey,
    testing::ValuesIn(std::vector<KeyCase>{
        {"UnitV", units, 0, 20, "set CTDetector.CTD_Unit = 21"},
        {"UnitVp", units, 0, 21, "set CTDetector.CTD_Unit = 22"},
        {"UnitVpp", units, 0, 22, "set CTDetector.CTD_Unit = 23"},
        {"UnitDbu", units, 0, 23, "set CTDetector.CTD_Unit = 66"},
        {"UnitDbv", units, 0, 66, "set CTDetector.CTD_Unit = 30"},
        {"UnitDbm", units, 0, 30, "set CTDetector.CTD_Unit = 31"},
        {"UnitW", units, 0, 31, "set CTDetector.CTD_Unit = 32"},
        {"UnitDbfs", units, 0, 32, "set CTDetector.CTD_Unit = 20"},
        {"UnitUnlisted", units, 0, 9, "set CTDetector.CTD_Unit = 20"},
        {"RelativeDb", units, 1, 37, "set CTDetector.CTD_Unit = 38"},
        {"RelativePercent", units, 3, 38, "set CTDetector.CTD_Unit = 37"},
        {"RelativeOther", units, 2, 40, "set CTDetector.CTD_Unit = 37"},
        // An odd relativity writes back the unit the last poll read (V), not a step.
        {"UnitOddRelativity", units, 9, 23, "set CTDetector.CTD_Unit = 20"},
        {"WeightNone", weight, 0, 0, "set CTDetector.CTD_WeightingFilter = 1"},
        {"WeightA", weight, 0, 1, "set CTDetector.CTD_WeightingFilter = 3"},
        {"Weight1k", weight, 0, 3, "set CTDetector.CTD_WeightingFilter = 4"},
        {"Weight2k", weight, 0, 4, "set CTDetector.CTD_WeightingFilter = 5"},
        {"WeightDefault", weight, 0, 5, "set CTDetector.CTD_WeightingFilter = 0"},
        {"WeightTwo", weight, 0, 2, "Invalid Weighting Filter already selected"},
        {"WeightSix", weight, 0, 6, "Invalid Weighting Filter already selected"},
        {"RespRms", resp, 0, 0, "set CTDetector.CTD_Response = 1"},
        {"RespQpeak", resp, 0, 3, "set CTDetector.CTD_Response = 0"},
        {"RespFour", resp, 0, 4, "Invalid response already selected"},
        {"RespNegative", resp, 0, -1, "Invalid response already selected"},
        {"RelAbs", rel, 0, 0, "set CTDetector.CTD_Relativity = 1"},
        {"RelChannel", rel, 3, 3, "set CTDetector.CTD_Relativity = 0"},
        {"RelNegative", rel, -2, -2, "set CTDetector.CTD_Relativity = -1"},
    }),
    testing_support::RowName());

struct RefusalCase {
    const char* name;
    Key key;
    const char* member;
    const char* word;  // of the setting still in force
};

class RefusedSettingKey : public testing::TestWithParam<RefusalCase> {};

// No poll would ever replace the placeholder of a refused write, so the key puts the word of
// the setting still in force back at once.
TEST_P(RefusedSettingKey, ShowsTheSettingStillInForceAtOnce) {
    const RefusalCase& c = GetParam();
    Polled p;
    p.world.set("CTDetector", "CTD_WeightingFilter", Value(3));
    p.world.set("CTDetector", "CTD_Response", Value(2));
    p.work_tick();
    p.world.sim.fail_member(c.member);
    (p.form.get()->*c.key.action)();
    EXPECT_EQ(p.text(c.key.label).toStdString(), c.word);
    EXPECT_FALSE(p.form->ended());
}

INSTANTIATE_TEST_SUITE_P(Keys, RefusedSettingKey,
                         testing::ValuesIn(std::vector<RefusalCase>{
                             {"Weighting", weight, "CTDetector.CTD_WeightingFilter", "CCIR468 1k"},
                             {"Response", resp, "CTDetector.CTD_Response", "Pk Sample"},
                             {"Relativity", rel, "CTDetector.CTD_Relativity", "absolute"},
                         }),
                         testing_support::RowName());

TEST(InputKey, StepsTwiceBeforeAPollInBothDomains) {
    Polled p;
    Form1& f = *p.form;
    f.Input_Domain = 0;
    f.Analogue_Input = 5;
    f.InputSel_button_Action();
    f.InputSel_button_Action();
    f.Input_Domain = 1;
    f.Digital_Input = 3;
    f.InputSel_button_Action();
    f.InputSel_button_Action();
    f.Input_Domain = 2;
    f.InputSel_button_Action();
    EXPECT_EQ(p.world.writes(),
              (Strings{"set AnalogueInputs.AI_Source = 3", "set AnalogueInputs.AI_Source = 0",
                       "set DigitalInputs.DI_Source = 4", "set DigitalInputs.DI_Source = 0"}));
}

TEST(DomainKey, TogglesOnWhatTheAnalyserReports) {
    for (auto [reported, written] : {std::pair{Value(0), "set SignalAnalyzer.SA_Source = 1"},
                                     {Value(1), "set SignalAnalyzer.SA_Source = 0"},
                                     {Value(7), "set SignalAnalyzer.SA_Source = 1"}}) {
        Polled p;
        p.world.sim.override_value("SignalAnalyzer.SA_Source", reported);
        p.form->AnaDig_button_Action();
        EXPECT_EQ(p.world.writes(), Strings{written}) << reported.describe();
    }
    Polled p;
    p.world.sim.fail_member("SignalAnalyzer.SA_Source");
    p.form->AnaDig_button_Action();  // a failed read goes back to analogue; the write fails too
    EXPECT_EQ(p.world.writes(), Strings{"set SignalAnalyzer.SA_Source = 0 -> failed"});
    EXPECT_FALSE(p.form->ended());
}

TEST(ChannelKey, TogglesAndRepairsAnOddChannelWithoutRestartingMinMax) {
    Polled p;
    for (const char* from : {"A", "B", "x"}) {
        p.form->Selected_Channel = from;
        p.form->Channel_button_Action();
        EXPECT_EQ(p.form->Selected_Channel, from == std::string("A") ? "B" : "A") << from;
    }
    EXPECT_FALSE(p.form->MaxMin_Reset_Due);
}

}  // namespace
}  // namespace vantel
