// SPDX-License-Identifier: MIT
// The meter's start-up and its one shut-down path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "meter_fixture.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using testing_support::Rig;

bool wrote_option(const AccessLog& log) {
    return std::any_of(log.begin(), log.end(), [](const std::string& l) {
        return l.starts_with("set Options.OPT_UseSettlingsFromScripts");
    });
}

TEST(StartUp, ReadyAnalyserStartsWithoutWaitingAndTheFirstTimedCycleIsTheFirstPoll) {
    Rig r;
    r.world.sim.override_value("CTDetector.CTD_ChA", Value(0.25));
    r.meter.start();
    EXPECT_EQ(r.world.waits, 0);
    EXPECT_EQ(r.world.count("get IsInitialised"), 1);
    EXPECT_EQ(r.world.count("get CTDetector.CTD_Unit"), 0) << "the start-up cycles do not poll";
    EXPECT_TRUE(r.meter.running());
    const MeterReading& s = r.shown();
    EXPECT_EQ(s.occasion, MeterReading::Occasion::StartUp);
    EXPECT_FALSE(s.hold_mark);
    // Minimum and maximum start as copies of the first reading; the status is as designed,
    // and the unit not yet known (so the reading takes the plain path).
    EXPECT_EQ(s.main_reading, "0.250");
    for (const std::string* copy : {&s.minimum, &s.maximum})
        EXPECT_EQ(*copy, "0.250");
    EXPECT_EQ(s.minimum_unit, s.unit_word);
    EXPECT_EQ(s.function_name, "Selected Function");
    EXPECT_FALSE(s.lit_lamp.has_value()) << "all lamps show until the first poll";
    EXPECT_EQ(r.world.get("Options", "OPT_UseSettlingsFromScripts"), Value(AutoBool::False));

    r.cycle_reading(Value(0.5));
    EXPECT_EQ(s.function_name, "Amplitude");
    EXPECT_EQ(s.lit_lamp, 0);
    EXPECT_EQ(s.unit_word, "mV");
    EXPECT_EQ(s.minimum, "500.0") << "the first poll restarts minimum and maximum";
    EXPECT_TRUE(r.world.ends.empty());
}

// Real time: the meter's own timer runs a cycle every 200 ms (the bounds allow for a busy machine).
TEST(StartUp, TheTimerRunsACycleEveryTwoHundredMilliseconds) {
    Rig r;
    int cycles = 0;
    QObject::connect(&r.meter, &Meter::published, &r.meter, [&cycles](const MeterReading& m) {
        cycles += m.occasion == MeterReading::Occasion::Cycle;
    });
    r.meter.start();
    QTest::qWait(900);
    EXPECT_GE(cycles, 3);
    EXPECT_LE(cycles, 5);
}

TEST(StartUp, WaitsForTheAnalyserAskingEveryTwoSeconds) {
    Rig r(/*initialise_after_s=*/6.0);
    r.meter.start();
    // The meter comes a second after the analyser: asked at 1, 3 and 5 s (not ready), then at
    // 7 s (ready).
    EXPECT_EQ(r.world.count("get IsInitialised"), 4);
    EXPECT_EQ(r.world.waits, 6);
    EXPECT_TRUE(r.world.messages.empty());
    EXPECT_TRUE(r.meter.running());
}

struct TimeoutCase {
    const char* name;
    double clock_start_s;
    std::optional<Value> odd_ready_value;
};

class StartUpTimeout : public testing::TestWithParam<TimeoutCase> {};

TEST_P(StartUpTimeout, GivesUpAfterElevenQuestionsChangingNothing) {
    Rig r(/*initialise_after_s=*/1e9);
    r.world.now_s = GetParam().clock_start_s;
    if (GetParam().odd_ready_value)
        r.world.sim.override_value("IsInitialised", *GetParam().odd_ready_value);
    r.meter.start();
    EXPECT_EQ(r.world.count("get IsInitialised"), 11);
    EXPECT_NEAR(r.world.now_s - GetParam().clock_start_s, 21.0, 1e-9);
    ASSERT_EQ(r.world.messages.size(), 1u);
    const Message& m = r.world.messages.front();
    EXPECT_EQ(m.icon, Message::Icon::Warning);
    EXPECT_EQ(m.title, "Vantel DMM");
    EXPECT_EQ(m.text,
              "The program has timed out waiting for the Vantel Application to initialise and "
              "will now close.  ");
    EXPECT_EQ(r.world.ends, std::vector<int>{2});
    EXPECT_TRUE(r.meter.ended());
    EXPECT_FALSE(r.meter.running());
    EXPECT_FALSE(wrote_option(*r.world.log));
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
    Rig r;
    r.world.sim.set_gone_away(true);
    EXPECT_THROW(r.meter.start(), AutomationError);
    EXPECT_TRUE(r.world.messages.empty());
}

TEST(StartUp, OptionThatCannotBeReadIsNeverOverwritten) {
    Rig r;
    // The write is never even tried: it could lose the user's setting for good.
    r.world.sim.fail_member("Options.OPT_UseSettlingsFromScripts");
    r.meter.start();
    EXPECT_EQ(r.world.count("get Options.OPT_UseSettlingsFromScripts -> failed"), 1);
    EXPECT_TRUE(r.meter.running());
    r.world.sim.clear_faults();
    r.meter.close();
    EXPECT_FALSE(wrote_option(*r.world.log));
    EXPECT_EQ(r.world.ends, std::vector<int>{0});
}

TEST(StartUp, FailingFirstCycleEndsWithCodeThreeWithoutTouchingTheOption) {
    Rig r;
    r.world.sim.fail_member("CTDetector.CTD_ChA");
    r.meter.start();
    EXPECT_TRUE(r.meter.ended());
    EXPECT_EQ(r.world.ends, std::vector<int>{3});
    EXPECT_TRUE(r.world.messages.empty());
    EXPECT_EQ(r.world.count("get Options.OPT_UseSettlingsFromScripts"), 0);
    EXPECT_FALSE(wrote_option(*r.world.log));
    EXPECT_FALSE(r.meter.running());
}

// Signals reach the same path through the event loop; the D-Bus tests send them to the program.
TEST(Close, PutsTheOptionBackExactlyAsItWasOnce) {
    Rig r;
    r.world.set("Options", "OPT_UseSettlingsFromScripts", Value(7));  // an odd saved value
    int closed = 0;
    QObject::connect(&r.meter, &Meter::closed, &r.meter, [&closed] { ++closed; });
    r.meter.start();
    r.meter.close();
    r.meter.close();
    EXPECT_EQ(r.world.get("Options", "OPT_UseSettlingsFromScripts"), Value(7));
    EXPECT_EQ(r.world.ends, std::vector<int>{0});
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(r.meter.running());
}

}  // namespace
}  // namespace vantel
