// SPDX-License-Identifier: MIT
// What the keys, legends and knob make the meter write into the analyser.
#include <gtest/gtest.h>

#include "meter_fixture.h"

namespace vantel {
namespace {

using testing_support::Polled;
using testing_support::PrintTo;
using testing_support::Strings;

struct Key {
    void (Meter::*action)();
    std::string MeterReading::*word;  // shows `placeholder` until the next status refresh
    const char* placeholder;
    const char* member;   // the detector setting it steps
    const char* warning;  // shown for a code the key cannot step from
};
constexpr Key units{&Meter::step_unit, &MeterReading::unit_word, " - - ", "CTD_Unit", ""};
constexpr Key weight{&Meter::step_weighting, &MeterReading::weighting_word, " - - ",
                     "CTD_WeightingFilter", "Invalid Weighting Filter already selected"};
constexpr Key resp{&Meter::step_response, &MeterReading::response_word, "- -", "CTD_Response",
                   "Invalid response already selected"};
constexpr Key rel{&Meter::step_relativity, &MeterReading::relativity_word, " - - ",
                  "CTD_Relativity", ""};

constexpr int kWarns = -99;
struct KeyCase {
    const char* name;
    Key key;
    int relativity;                      // the relativity shown before the press
    int current;                         // the shown code the key steps from
    int written;                         // kWarns: the key's warning instead
    const char* refused_word = nullptr;  // the analyser refuses the write: the word in force
};

class SettingKey : public testing::TestWithParam<KeyCase> {};

// Keys step from what the meter last showed, so a second press before the next poll repeats the
// first; what a key asks for is written whether or not the analyser takes it. No poll would ever
// replace the placeholder of a refused write, so the key puts the word of the setting still in
// force back at once.
TEST_P(SettingKey, ShowsItsPlaceholderAndWritesTheNextCodeOrWarns) {
    const KeyCase& c = GetParam();
    Polled p;
    const std::string member = std::string("CTDetector.") + c.key.member;
    p.world.analyser.override_value("CTDetector.CTD_Relativity", Value(c.relativity));
    p.world.analyser.override_value(member, Value(c.current));
    p.work_tick();
    p.world.log->clear();
    if (c.refused_word)
        p.world.analyser.fail_member(member);
    (p.meter.*c.key.action)();
    (p.meter.*c.key.action)();
    Strings w = p.world.writes();
    // The analyser itself refuses some of these writes; the word then comes back too.
    if (c.refused_word) {
        EXPECT_EQ(p.shown().*c.key.word, c.refused_word);
    } else if (w.empty() || !w.back().ends_with(" -> failed") || c.key.action == units.action) {
        EXPECT_EQ(p.shown().*c.key.word, c.key.placeholder);
    }
    EXPECT_EQ(p.shown().occasion, MeterReading::Occasion::Key);
    EXPECT_FALSE(p.meter.ended());
    for (std::string& line : w)
        line = line.substr(0, line.find(" -> "));
    const bool writes = c.written != kWarns;
    const std::string set = "set " + member + " = " + std::to_string(c.written);
    EXPECT_EQ(w, Strings(writes ? 2 : 0, set));
    ASSERT_EQ(p.world.messages.size(), writes ? 0u : 2u);
    for (const Message& m : p.world.messages)
        EXPECT_EQ(std::tuple(m.text, m.title, m.icon),
                  std::tuple(c.key.warning, "Vantel DMM", Message::Icon::Warning));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cycles, SettingKey, testing::ValuesIn(std::vector<KeyCase>{
    {"UnitV", units, 0, 20, 21}, {"UnitVp", units, 0, 21, 22}, {"UnitVpp", units, 0, 22, 23},
    {"UnitDbu", units, 0, 23, 66}, {"UnitDbv", units, 0, 66, 30}, {"UnitDbm", units, 0, 30, 31},
    {"UnitW", units, 0, 31, 32}, {"UnitDbfs", units, 0, 32, 20}, {"UnitUnlisted", units, 0, 9, 20},
    {"RelativeDb", units, 1, 37, 38}, {"RelativePercent", units, 3, 38, 37},
    {"RelativeOther", units, 2, 40, 37},
    // An odd relativity writes back the unit the last poll read, not a step.
    {"UnitOddRelativity", units, 9, 23, 23},
    {"WeightNone", weight, 0, 0, 1}, {"WeightA", weight, 0, 1, 3}, {"Weight1k", weight, 0, 3, 4},
    {"Weight2k", weight, 0, 4, 5}, {"WeightDefault", weight, 0, 5, 0},
    {"WeightTwo", weight, 0, 2, kWarns}, {"WeightSix", weight, 0, 6, kWarns},
    {"RespRms", resp, 0, 0, 1}, {"RespQpeak", resp, 0, 3, 0}, {"RespFour", resp, 0, 4, kWarns},
    {"RespNegative", resp, 0, -1, kWarns},
    {"RelAbs", rel, 0, 0, 1}, {"RelGen", rel, 2, 2, 3}, {"RelChannel", rel, 3, 3, 0},
    {"RelNegative", rel, -2, -2, -1},
    {"WeightRefused", weight, 0, 3, 4, "CCIR468 1k"}, {"RespRefused", resp, 0, 2, 3, "Pk Sample"},
    {"RelRefused", rel, 0, 0, 1, "absolute"},
}), testing_support::RowName());
// clang-format on

// The input key steps twice before a poll in both domains, and not at all in an odd one.
TEST(InputAndDomainKeys, InputStepsInItsDomainAndDomainTogglesOnWhatTheAnalyserReports) {
    Polled p;
    p.world.set("AnalogueInputs", "AI_Source", Value(5));
    p.work_tick();
    p.world.log->clear();
    p.meter.step_input();
    p.meter.step_input();
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    p.world.set("DigitalInputs", "DI_Source", Value(3));
    p.work_tick();
    p.meter.step_input();
    p.meter.step_input();
    p.world.analyser.override_value("SignalAnalyzer.SA_Source", Value(2));
    p.work_tick();
    p.meter.step_input();
    EXPECT_EQ(p.world.writes(),
              (Strings{"set AnalogueInputs.AI_Source = 3", "set AnalogueInputs.AI_Source = 0",
                       "set DigitalInputs.DI_Source = 4", "set DigitalInputs.DI_Source = 0"}));

    for (auto [reported, written] : {std::pair{Value(0), "set SignalAnalyzer.SA_Source = 1"},
                                     {Value(1), "set SignalAnalyzer.SA_Source = 0"},
                                     {Value(7), "set SignalAnalyzer.SA_Source = 1"}}) {
        p.world.log->clear();
        p.world.analyser.override_value("SignalAnalyzer.SA_Source", reported);
        p.meter.toggle_domain();
        EXPECT_EQ(p.world.writes(), Strings{written}) << reported.describe();
    }
    p.world.log->clear();
    p.world.analyser.fail_member("SignalAnalyzer.SA_Source");
    p.meter.toggle_domain();  // a failed read goes back to analogue; the write fails too
    EXPECT_EQ(p.world.writes(), Strings{"set SignalAnalyzer.SA_Source = 0 -> failed"});
    EXPECT_FALSE(p.meter.ended());
}

// The knob's steps are the function table's (status/status_test.cpp), taken from the
// function shown (window_test.cpp).
TEST(Keys, AfterCloseNothingIsWritten) {
    Polled p;
    p.meter.close();
    p.world.log->clear();
    p.meter.toggle_domain();
    p.meter.select_function("Balance");
    p.meter.step_unit();
    EXPECT_TRUE(p.world.writes().empty());
}

}  // namespace
}  // namespace vantel
