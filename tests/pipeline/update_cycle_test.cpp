// SPDX-License-Identifier: MIT
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>
#include <limits>

#include "analyser/conversions.h"
#include "form_fixture.h"

namespace vantel {
namespace {

using testing_support::Panel;
using testing_support::Polled;

constexpr int kUnitV = 20;

// Channel A reads `value` from now on; one cycle runs.
void cycle_reading(Panel& p, Value value) {
    p.world.sim.override_value("CTDetector.CTD_ChA", std::move(value));
    p.work_tick();
}

TEST(UpdateCycle, ReadsTheAnalyserInItsOwnOrder) {
    Polled p;
    p.work_tick();
    // Ranged unit V on the analogue input XLR / BNC; nothing changed, so no status refresh. Each
    // member's object is fetched afresh before it; the unit text then asks the unit vocabulary
    // from its first row up to UNIT_V.
    AccessLog expected;
    for (std::string path :
         {"CTDetector.CTD_Unit", "CTDetector.CTD_WeightingFilter", "CTDetector.CTD_Response",
          "CTDetector.CTD_Relativity", "SignalAnalyzer.SA_DefaultWeightingFilter",
          "CTDetector.CTD_Function", "SignalAnalyzer.SA_Source", "AnalogueInputs.AI_Source",
          "AI_SOURCE_BAL_UNBAL", "CTDetector.CTD_ChA", "UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP",
          "UNIT_VPP", "UNIT_W", "UNIT_V"}) {
        if (auto dot = path.find('.'); dot != std::string::npos)
            expected.push_back("get " + path.substr(0, dot));
        expected.push_back("get " + path);
    }
    ASSERT_GE(p.world.log->size(), expected.size());
    EXPECT_EQ(AccessLog(p.world.log->begin(), p.world.log->begin() + expected.size()), expected);
    EXPECT_EQ(p.world.log->back(), "get UNIT_V");
}

TEST(UpdateCycle, InputDomainDecidesTheInputLabels) {
    Polled p;
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    struct Row {
        int connector, frame_rate;
        const char *word, *lock;
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
    // A domain that is neither leaves the input labels alone and the panel running.
    p.world.sim.override_value("SignalAnalyzer.SA_Source", Value(2));
    p.form->Selection_Info5->setText(QStringLiteral("marker"));
    p.work_tick();
    EXPECT_EQ(p.text("Selection_Info5"), "marker");
    EXPECT_EQ(p.text("Selection_Info2"), "XLR / BNC");
    EXPECT_FALSE(p.form->ended());
}

// Each kind of status change restarts minimum and maximum at the next cycle.
struct ChangeCase {
    const char* name;
    const char* member;  // of the detector; nullptr: the analyser's default weighting changes
    Value value;
    bool restarts;
    int weighting_first = -1;  // a detector weighting to settle on before the change
};

class StatusChange : public testing::TestWithParam<ChangeCase> {};

TEST_P(StatusChange, RestartsMinimumAndMaximum) {
    const ChangeCase& c = GetParam();
    Polled p;
    if (c.weighting_first >= 0)
        p.world.set("CTDetector", "CTD_WeightingFilter", Value(c.weighting_first));
    cycle_reading(p, Value(2.0));  // spread minimum and maximum apart
    cycle_reading(p, Value(0.5));
    ASSERT_EQ(p.form->Max_Reading, 2.0);
    ASSERT_EQ(p.form->Min_Reading, 0.5);

    if (c.member)
        p.world.set("CTDetector", c.member, c.value);
    else
        p.world.sim.set_default_weighting(to_code(c.value));
    cycle_reading(p, Value(1.25));
    EXPECT_EQ(p.form->Min_Reading, c.restarts ? 1.25 : 0.5);
    EXPECT_EQ(p.form->Max_Reading, c.restarts ? 1.25 : 2.0);
    EXPECT_FALSE(p.form->MaxMin_Reset_Due);
}

INSTANTIATE_TEST_SUITE_P(Kinds, StatusChange,
                         testing::ValuesIn(std::vector<ChangeCase>{
                             {"Unit", "CTD_Unit", Value(21), true},
                             {"Weighting", "CTD_WeightingFilter", Value(3), true},
                             {"Response", "CTD_Response", Value(1), true},
                             {"Relativity", "CTD_Relativity", Value(1), true},
                             {"DefaultWhileDefault", nullptr, Value(4), true, 5},
                             {"DefaultOtherwise", nullptr, Value(4), false, 1},
                             {"Function", "CTD_Function", Value("Balance"), false},
                         }),
                         testing_support::RowName());

TEST(UpdateCycle, ChannelSwitchKeepsMinimumAndMaximumAndABadChannelWarns) {
    Polled p;
    p.world.sim.override_value("CTDetector.CTD_ChB", Value(3.0));
    cycle_reading(p, Value(1.0));
    p.form->Selected_Channel = "B";
    p.work_tick();
    EXPECT_EQ(p.form->Max_Reading, 3.0);
    EXPECT_LE(p.form->Min_Reading, 1.0);
    EXPECT_EQ(p.text("Channel_Indicator"), "B");

    p.form->Selected_Channel = "a";
    p.work_tick();
    ASSERT_EQ(p.world.messages.size(), 1u);
    EXPECT_EQ(p.world.messages[0].text, "Channel error");
    EXPECT_EQ(p.world.messages[0].title, "Vantel DMM");
    EXPECT_EQ(p.form->Current_Reading, 3.0);  // the reading stands
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
    if (GetParam().hex)
        p.world.sim.override_value("CTDetector.CTD_Unit",
                                   p.world.sim.application()->get("UNIT_HEX"));
    cycle_reading(p, Value(3.0));
    const double min = p.form->Min_Reading, max = p.form->Max_Reading;
    const QString min_text = p.text("Label4");

    cycle_reading(p, GetParam().value);
    EXPECT_FALSE(p.form->ended());
    EXPECT_EQ(p.text("Label1"), "OVER");
    EXPECT_EQ(p.form->Min_Reading, min);
    EXPECT_EQ(p.form->Max_Reading, max);
    EXPECT_EQ(p.text("Label4"), min_text);

    cycle_reading(p, Value(1.0));
    EXPECT_EQ(p.form->Min_Reading, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Values, OverRange,
                         testing::ValuesIn(std::vector<OddReading>{
                             {"NaN", Value(std::numeric_limits<double>::quiet_NaN()), false},
                             {"Infinity", Value(std::numeric_limits<double>::infinity()), false},
                             {"Text", Value("-----"), false},
                             {"HexBeyond32Bits", Value(5e9), true},
                         }),
                         testing_support::RowName());

TEST(UpdateCycle, UnusableAnalyserClosesWithoutABoxButSaysWhyAndEndsWithItsOwnCode) {
    for (bool gone : {true, false}) {
        SCOPED_TRACE(gone ? "gone away" : "code beyond 16 bits");
        Polled p;
        if (gone)
            p.world.sim.set_gone_away(true);
        else
            p.world.sim.override_value("CTDetector.CTD_Response", Value(40000));
        p.work_tick();
        EXPECT_TRUE(p.form->ended());
        EXPECT_TRUE(p.world.messages.empty());
        EXPECT_EQ(p.world.ends, std::vector<int>{3});
        ASSERT_EQ(p.world.reports.size(), 1u);
        // Names the member that failed, and why.
        EXPECT_THAT(p.world.reports[0],
                    testing::HasSubstr(gone ? "CTDetector: the analyser has gone away"
                                            : "CTDetector.CTD_Response: "));
    }
}

TEST(UpdateCycle, RefusedUnitReadKeepsThePreviousUnit) {
    Polled p;
    p.world.sim.fail_member("CTDetector.CTD_Unit");
    p.work_tick();
    EXPECT_FALSE(p.form->ended());
    EXPECT_EQ(p.form->New_Unit, kUnitV);
}

TEST(UpdateCycle, StatusPollGoesOnPastTheCycleCounterLimit) {
    Polled p;
    p.form->Cycle_Count = std::numeric_limits<std::int16_t>::max() - 1;
    for (int unit : {21, 22, 23}) {
        p.world.set("CTDetector", "CTD_Unit", Value(unit));
        p.work_tick();
        EXPECT_EQ(p.form->Current_Unit, unit);
    }
}

TEST(UpdateCycle, ReadingIgnoresACommaDecimalLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the install script provides the de_DE.UTF-8 locale";
    const QLocale saved_qt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Polled p;
    cycle_reading(p, Value(0.0123));
    const QString reading = p.text("Label1"), unit = p.text("Label9");
    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(saved_qt);
    EXPECT_EQ(reading, "12.30");
    EXPECT_EQ(unit, "mV");
}

TEST(Hold, FreezesThePanelAndBlinksEverySixHundredMilliseconds) {
    Polled p;
    cycle_reading(p, Value(1.0));
    const QString shown = p.text("Label1");
    p.form->Hold_button_Action();
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

    p.form->Hold_button_Action();
    p.work_tick();
    EXPECT_TRUE(p.form->Hold_icon->isHidden());
    EXPECT_EQ(p.form->Max_Reading, 9.0);  // min/max continue from their held values
    EXPECT_EQ(p.form->Min_Reading, 1.0);
}

TEST(Hold, ResetAndPlaceholdersWaitUntilRelease) {
    Polled p;
    cycle_reading(p, Value(2.0));
    cycle_reading(p, Value(0.5));
    p.form->Hold_button_Action();
    p.form->Reset_button_Action();
    p.form->Relativity_button_Action();
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(1.5));
    for (int i = 0; i < 5; ++i)
        p.work_tick();
    EXPECT_EQ(p.text("Label4"), " -- ");
    EXPECT_EQ(p.text("Label6"), " -- ");
    EXPECT_EQ(p.text("Rel_Label"), " - - ");
    p.form->Hold_button_Action();
    p.work_tick();
    EXPECT_EQ(p.form->Min_Reading, 1.5);
    EXPECT_EQ(p.form->Max_Reading, 1.5);
    EXPECT_EQ(p.text("Label4"), p.text("Label1"));
    EXPECT_EQ(p.text("Label6"), p.text("Label1"));
}

}  // namespace
}  // namespace vantel
