// SPDX-License-Identifier: MIT
// A scripted run on our analyser with a clock the test turns: which readings count, how each is
// judged, and when the run ends.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "meter/scripted_run.h"
#include "meter_fixture.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;
using testing_support::World;

struct Logged {
    double seconds;
    std::optional<bool> passed;
};

// A meter on our analyser with a run attached as the program attaches it.
struct RunRig {
    World world{0.0};
    Meter meter;
    ScriptedRun run;
    std::vector<Logged> logged;

    explicit RunRig(RunPlan plan) : meter(environment()), run(meter, std::move(plan)) {
        QObject::connect(&run, &ScriptedRun::logged, &run,
                         [this](const MeterReading& r, std::optional<bool> passed) {
                             logged.push_back({r.seconds, passed});
                         });
    }
    Environment environment() {
        Environment env = world.environment();
        env.prepare_analyser = [this](const ObjectRef& analyser) { run.attach(analyser); };
        return env;
    }
    void start() {
        meter.start();
        meter.stop_timer();
    }
    // Work ticks 200 ms apart until the run has logged `n` readings or the meter has ended;
    // at most `limit` of them.
    void tick_until_logged(std::size_t n, int limit = 100) {
        for (int i = 0; i < limit && logged.size() < n && !meter.ended(); ++i) {
            world.now_s += 0.2;
            for (int t = 0; t < 4; ++t)
                meter.tick();
        }
    }
    void analyser_status(std::int64_t status) {
        world.analyser.override_value("SignalAnalyzer.SA_Status", Value(status));
    }
};

// 16 is not a bit any code of ours assumes: the run must ask the analyser what it means.
constexpr std::int64_t kSettlingBit = 16;

TEST(Settling, DiscardsReadingsForItsTimeThenWhileTheAnalyserSaysItSettles) {
    RunRig rig({.settle_s = 1.0});
    rig.world.analyser.override_value("STATUS_SETTLING", Value(kSettlingBit));
    rig.analyser_status(kSettlingBit | 1);
    rig.start();
    EXPECT_TRUE(rig.run.analyser_reports_settling());
    rig.tick_until_logged(1, 8);  // to 1.6 s: past the time, but the analyser is settling
    EXPECT_TRUE(rig.logged.empty());
    rig.analyser_status(8);  // other bits only
    rig.tick_until_logged(1);
    rig.analyser_status(kSettlingBit);  // once settled, the run does not settle again
    rig.tick_until_logged(3);
    ASSERT_EQ(rig.logged.size(), 3u);
    EXPECT_NEAR(rig.logged[0].seconds, 1.8, 1e-9);
    EXPECT_NEAR(rig.logged[2].seconds, 2.2, 1e-9);
}

struct AnalyserCase {
    const char* name;
    bool offers_status;
    bool offers_constant;
};

class SettlingWithout : public testing::TestWithParam<AnalyserCase> {};

// An analyser that does not report its state this way never holds the run up.
TEST_P(SettlingWithout, TheStatusOrItsConstantIsOnlyTheTime) {
    RunRig rig({.settle_s = 0.5});
    // Our analyser offers both; a member it is made to refuse stands for one it lacks.
    if (GetParam().offers_status)
        rig.analyser_status(kSettlingBit);
    else
        rig.world.analyser.fail_member("SignalAnalyzer.SA_Status", "no such member");
    if (GetParam().offers_constant)
        rig.world.analyser.override_value("STATUS_SETTLING", Value(kSettlingBit));
    else
        rig.world.analyser.fail_member("STATUS_SETTLING", "no such member");
    rig.start();
    EXPECT_FALSE(rig.run.analyser_reports_settling());
    rig.tick_until_logged(1);
    ASSERT_EQ(rig.logged.size(), 1u);
    EXPECT_NEAR(rig.logged[0].seconds, 0.6, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Analysers, SettlingWithout,
                         testing::Values(AnalyserCase{"Neither", false, false},
                                         AnalyserCase{"OnlyTheStatus", true, false},
                                         AnalyserCase{"OnlyTheConstant", false, true}),
                         testing_support::RowName());

TEST(Settling, AStatusThatCannotBeReadEndsTheRunAsAFailedAnalyser) {
    RunRig rig({.settle_s = 0.4});
    rig.world.analyser.override_value("STATUS_SETTLING", Value(kSettlingBit));
    rig.analyser_status(0);
    rig.start();
    rig.world.analyser.fail_member("SignalAnalyzer.SA_Status", "input overload");
    rig.tick_until_logged(1);
    EXPECT_TRUE(rig.meter.ended());
    EXPECT_EQ(rig.world.ends, std::vector<int>{kExitAnalyserFailed});
    ASSERT_EQ(rig.world.reports.size(), 1u);
    EXPECT_NE(rig.world.reports[0].find("SignalAnalyzer.SA_Status"), std::string::npos);
}

// Channel A reads 1, 2, over-range, 0.5 in turn; the limits are 0.5 to 1.5.
TEST(Limits, JudgeEveryReadingAndTheCountEndsTheRun) {
    RunRig rig({.count = 3, .limits = Limits{0.5, 1.5}});
    rig.start();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double reading : {1.0, 2.0, nan, 0.5}) {
        rig.world.analyser.override_value("CTDetector.CTD_ChA", Value(reading));
        rig.tick_until_logged(rig.logged.size() + 1);
    }
    ASSERT_EQ(rig.logged.size(), 3u) << "the count ended the run";
    EXPECT_TRUE(rig.meter.ended());
    EXPECT_EQ(rig.world.ends, std::vector<int>{kExitClosed});
    EXPECT_EQ(rig.logged[0].passed, true);
    EXPECT_EQ(rig.logged[1].passed, false);
    EXPECT_EQ(rig.logged[2].passed, false) << "over-range has no value to pass";
    EXPECT_EQ(rig.run.readings_failed(), 2);
    EXPECT_EQ(rig.run.exit_code(), kExitLimitFailed);
}

struct EndCase {
    const char* name;
    RunPlan plan;
    double reading;
    std::size_t logged;
    int exit_code;
};

class RunEnd : public testing::TestWithParam<EndCase> {};

TEST_P(RunEnd, GivesTheCodeOfWhatWasJudged) {
    RunRig rig(GetParam().plan);
    rig.world.analyser.override_value("CTDetector.CTD_ChA", Value(GetParam().reading));
    rig.start();
    rig.tick_until_logged(1000, 30);
    EXPECT_EQ(rig.logged.size(), GetParam().logged);
    EXPECT_EQ(rig.run.exit_code(), GetParam().exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, RunEnd,
    testing::Values(
        // The reading at 1.0 s is the first past the duration, and is not logged.
        EndCase{"DurationWithoutLimits", {.duration_s = 0.9}, 5.0, 4, kExitClosed},
        EndCase{"AllWithinTheLimits", {.count = 5, .limits = Limits{{}, 6.0}}, 5.0, 5, kExitClosed},
        EndCase{"AboveAHighLimitAlone",
                {.count = 2, .limits = Limits{{}, 4.0}},
                5.0,
                2,
                kExitLimitFailed},
        EndCase{"BoundsIncluded", {.count = 2, .limits = Limits{5.0, 5.0}}, 5.0, 2, kExitClosed},
        // A judged run that judged nothing has not passed.
        EndCase{"EndedWhileSettling",
                {.duration_s = 1.0, .settle_s = 2.0, .limits = Limits{{}, 6.0}},
                5.0,
                0,
                kExitLimitFailed}),
    testing_support::RowName());

struct LimitsCase {
    const char* name;
    const char* text;
    std::optional<Limits> expected;
};

class LimitsText : public testing::TestWithParam<LimitsCase> {};

TEST_P(LimitsText, ReadsLowColonHigh) {
    std::string error;
    const std::optional<Limits> got = parse_limits(GetParam().text, error);
    ASSERT_EQ(got.has_value(), GetParam().expected.has_value()) << error;
    if (got) {
        EXPECT_EQ(got->low, GetParam().expected->low);
        EXPECT_EQ(got->high, GetParam().expected->high);
    } else {
        EXPECT_NE(error.find("--limits"), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, LimitsText,
                         testing::Values(LimitsCase{"Both", "-90:-80", Limits{-90.0, -80.0}},
                                         LimitsCase{"HighOnly", ":-80", Limits{{}, -80.0}},
                                         LimitsCase{"LowOnly", "0.9:", Limits{0.9, {}}},
                                         LimitsCase{"Neither", ":", Limits{}},
                                         LimitsCase{"ExponentsAndPlus", "+1e-3:2E-3",
                                                    Limits{1e-3, 2e-3}},
                                         LimitsCase{"NoColon", "-80", std::nullopt},
                                         LimitsCase{"TwoColons", "1:2:3", std::nullopt},
                                         LimitsCase{"CommaDecimal", "0,9:1,1", std::nullopt},
                                         LimitsCase{"Words", "nan:1", std::nullopt},
                                         LimitsCase{"Infinite", ":inf", std::nullopt},
                                         LimitsCase{"LowAboveHigh", "2:1", std::nullopt},
                                         LimitsCase{"Spaces", " 1:2", std::nullopt}),
                         testing_support::RowName());

}  // namespace
}  // namespace vantel
