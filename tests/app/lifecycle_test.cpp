// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include <csignal>

#include "analyser/conversions.h"
#include "app/termination.h"
#include "form_fixture.h"

namespace vantel {
namespace {

using testing_support::Panel;

int count(const AccessLog& log, const std::string& line) {
    return static_cast<int>(std::count(log.begin(), log.end(), line));
}

bool wrote_option(const AccessLog& log) {
    return std::any_of(log.begin(), log.end(), [](const std::string& l) {
        return l.starts_with("set Options.OPT_UseSettlingsFromScripts");
    });
}

TEST(StartUp, ReadyAnalyserPreparesThePanelWithoutWaitingAndTheTimerPolls) {
    Panel p;
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(0.25));
    p.start();
    const FormState& s = *p.form;
    EXPECT_EQ(p.world.waits, 0);
    EXPECT_EQ(count(*p.world.log, "get IsInitialised"), 1);
    EXPECT_EQ(s.Selected_Channel, "A");
    EXPECT_EQ(s.Cycle_Count, 2);  // two cycles, neither polled the status
    EXPECT_EQ(count(*p.world.log, "get CTDetector.CTD_Unit"), 0);
    EXPECT_TRUE(p.form->Timer1.isActive());
    EXPECT_EQ(p.form->Timer1.interval(), 50);
    EXPECT_TRUE(p.form->Hold_icon->isHidden());
    // Minimum and maximum start at the first reading, their labels as copies of the main ones.
    EXPECT_EQ(s.Min_Reading, 0.25);
    EXPECT_EQ(s.Max_Reading, 0.25);
    for (auto [copy, of] : {std::pair{"Label4", "Label1"},
                            {"Label6", "Label1"},
                            {"Label3", "Label9"},
                            {"Label7", "Label9"}})
        EXPECT_EQ(p.text(copy), p.text(of)) << copy;
    // The option is off while the panel runs, and its old value is kept for the end.
    EXPECT_EQ(p.world.get("Options", "OPT_UseSettlingsFromScripts"), Value(AutoBool::False));
    EXPECT_EQ(s.Saved_Settling_Option, Value(AutoBool::True));
    EXPECT_TRUE(p.world.ends.empty());

    // The first timer-driven cycle is the first to poll, and it restarts minimum and maximum.
    EXPECT_EQ(p.text("Selection_Info1"), "Selected Function");
    p.world.sim.override_value("CTDetector.CTD_ChA", Value(0.5));
    p.work_tick();
    EXPECT_EQ(s.Cycle_Count, 3);
    EXPECT_EQ(p.text("Selection_Info1"), "Amplitude");
    EXPECT_EQ(p.text("Channel_Indicator"), "A");
    EXPECT_EQ(s.Current_Unit, 20);
    EXPECT_EQ(s.Min_Reading, 0.5);
}

TEST(StartUp, WaitsForTheAnalyserAskingEveryTwoSeconds) {
    Panel p(/*initialise_after_s=*/6.0);
    p.start();
    // The panel comes a second after the analyser: asked at 1, 3 and 5 s (not ready), then at
    // 7 s (ready).
    EXPECT_EQ(count(*p.world.log, "get IsInitialised"), 4);
    EXPECT_EQ(p.world.waits, 6);
    EXPECT_TRUE(p.world.messages.empty());
    EXPECT_TRUE(p.form->Timer1.isActive());
}

struct TimeoutCase {
    const char* name;
    double clock_start_s;
    std::optional<Value> odd_ready_value;
};

class StartUpTimeout : public testing::TestWithParam<TimeoutCase> {};

TEST_P(StartUpTimeout, GivesUpAfterElevenQuestionsChangingNothing) {
    Panel p(/*initialise_after_s=*/1e9);
    p.world.now_s = GetParam().clock_start_s;
    if (GetParam().odd_ready_value)
        p.world.sim.override_value("IsInitialised", *GetParam().odd_ready_value);
    p.start();

    EXPECT_EQ(count(*p.world.log, "get IsInitialised"), 11);
    EXPECT_NEAR(p.world.now_s - GetParam().clock_start_s, 21.0, 1e-9);
    ASSERT_EQ(p.world.messages.size(), 1u);
    const Message& m = p.world.messages.front();
    EXPECT_EQ(m.icon, Message::Icon::Warning);
    EXPECT_EQ(m.title, "Vantel DMM");
    EXPECT_EQ(m.text,
              "The program has timed out waiting for the Vantel Application to initialise and "
              "will now close.  ");
    EXPECT_EQ(p.world.ends, std::vector<int>{2});
    EXPECT_TRUE(p.form->ended());
    EXPECT_FALSE(p.form->Timer1.isActive());
    EXPECT_FALSE(wrote_option(*p.world.log));
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpTimeout,
                         testing::ValuesIn(std::vector<TimeoutCase>{
                             {"NeverReady", 5000.0, std::nullopt},
                             // The clock is monotonic: a wait that would cross midnight still ends.
                             {"AcrossMidnight", 86390.0, std::nullopt},
                             {"OneInsteadOfTrue", 5000.0, Value(1)},
                         }),
                         testing_support::RowName());

TEST(StartUp, UnreachableAnalyserIsAnErrorForTheCaller) {
    Panel p;
    p.world.sim.set_gone_away(true);
    EXPECT_THROW(p.start(), AutomationError);
    EXPECT_TRUE(p.world.messages.empty());
}

TEST(StartUp, OptionThatCannotBeReadIsNeverOverwritten) {
    Panel p;
    // The write is never even tried: it could lose the user's setting for good.
    p.world.sim.fail_member("Options.OPT_UseSettlingsFromScripts");
    p.start();
    EXPECT_FALSE(p.form->Saved_Settling_Option.has_value());
    EXPECT_EQ(count(*p.world.log, "get Options.OPT_UseSettlingsFromScripts -> failed"), 1);
    EXPECT_FALSE(wrote_option(*p.world.log));
    EXPECT_TRUE(p.form->Timer1.isActive());

    p.world.sim.clear_faults();
    p.world.log->clear();
    p.form->close();
    EXPECT_FALSE(wrote_option(*p.world.log));
    EXPECT_EQ(p.world.ends, std::vector<int>{0});
}

TEST(StartUp, FailingFirstCycleEndsWithoutTouchingTheOption) {
    Panel p;
    p.world.sim.fail_member("CTDetector.CTD_ChA");
    p.start();
    EXPECT_TRUE(p.form->ended());
    EXPECT_EQ(p.world.ends, std::vector<int>{3});
    EXPECT_TRUE(p.world.messages.empty());
    EXPECT_EQ(count(*p.world.log, "get Options.OPT_UseSettlingsFromScripts"), 0);
    EXPECT_FALSE(wrote_option(*p.world.log));
    EXPECT_FALSE(p.form->Timer1.isActive());
}

struct ShutdownCase {
    const char* name;
    void (*close)(Form1&);
};

class ShutDown : public testing::TestWithParam<ShutdownCase> {};

TEST_P(ShutDown, EveryWayOfClosingRestoresTheOption) {
    Panel p;
    p.world.set("Options", "OPT_UseSettlingsFromScripts", Value(7));  // an odd saved value
    close_on_termination_signals(p.form.get());
    p.start();
    p.form->show();
    GetParam().close(*p.form);
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.form->ended(); }, 2000));
    EXPECT_EQ(p.world.get("Options", "OPT_UseSettlingsFromScripts"), Value(7));
    EXPECT_EQ(p.world.ends, std::vector<int>{0});
    EXPECT_FALSE(p.form->isVisible());
    EXPECT_EQ(p.form->AnalyzerApp, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Closers, ShutDown,
                         testing::ValuesIn(std::vector<ShutdownCase>{
                             {"OffKey", [](Form1& f) { f.OFF_button_Click(); }},
                             {"CloseBox", [](Form1& f) { f.close(); }},
                             {"Sigterm", [](Form1&) { std::raise(SIGTERM); }},
                             {"Sigint", [](Form1&) { std::raise(SIGINT); }},
                         }),
                         testing_support::RowName());

}  // namespace
}  // namespace vantel
