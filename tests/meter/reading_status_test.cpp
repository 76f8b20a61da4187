// SPDX-License-Identifier: MIT
// What the analyser says of its reading, through the meter to what it publishes, the log's row
// and the trend; and the calibration the meter sets from a true level.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "automation/conversions.h"
#include "meter_fixture.h"
#include "recorder/recorder.h"
#include "trend/trend_series.h"

namespace vantel {
namespace {

using ::testing::HasSubstr;
using testing_support::Polled;
using testing_support::PrintTo;
using testing_support::Rig;

// The generator straight into the inputs, at unity gain: the reading is the generator's level.
source::DeviceModel loopback() {
    return source::analyser_loopback();
}

// A digital input that loses its lock is no reading: the annunciator says so, the raw value is
// empty in the log, the trend breaks its line and minimum and maximum pass it by; when it locks
// again it settles for one cycle, then all is well.
TEST(ReadingStatus, ALostInputIsNoReadingAndItsReturnSettles) {
    Polled p;
    TrendSeries trend;
    const MeterReading& s = p.shown();
    EXPECT_EQ(s.annunciator + s.status_words, "") << "at rest on sim";
    EXPECT_EQ(s.source_name, "simulated");
    p.world.set("Generator", "GEN_Level", Value(0.5));  // under the 1 V digital full scale
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    p.work_tick();
    EXPECT_EQ(s.annunciator, "SETTLE") << "another converter: the chain starts again";
    p.meter.reset_min_max();
    p.work_tick();
    trend.add(s);
    EXPECT_EQ(s.annunciator, "");
    const std::string minimum = s.minimum, maximum = s.maximum;

    p.world.set("DigitalInputs", "DI_Source", Value(1));  // BNC: nothing connected
    p.work_tick();
    trend.add(s);
    EXPECT_EQ(s.annunciator, "NO INPUT");
    EXPECT_EQ(s.status_words, "NO_INPUT");
    EXPECT_EQ(s.main_reading, "0") << "the analyser's number is still shown";
    EXPECT_FALSE(s.raw_reading.has_value());
    EXPECT_EQ(s.minimum + s.maximum, minimum + maximum);
    EXPECT_THAT(csv_row(s, std::chrono::system_clock::now()), HasSubstr(",Amplitude,,V,0 V,"));
    EXPECT_THAT(csv_row(s, std::chrono::system_clock::now()), HasSubstr(",NO_INPUT,simulated\r\n"));

    p.world.set("DigitalInputs", "DI_Source", Value(0));
    p.work_tick();
    trend.add(s);
    EXPECT_EQ(s.annunciator, "SETTLE");
    EXPECT_TRUE(s.raw_reading.has_value());
    p.work_tick();
    EXPECT_EQ(s.annunciator + s.status_words, "");
    // Another input is another measurement: a trace of its own, and back to the first.
    const auto& traces = trend.traces();
    ASSERT_EQ(traces.size(), 3u);
    EXPECT_EQ(traces[0].key, traces[2].key);
    ASSERT_EQ(traces[1].points.size(), 1u);
    EXPECT_EQ(traces[1].points[0].gap, TrendGap::NoInput) << "the lost reading is a gap, not a 0";
    EXPECT_TRUE(traces[0].points.back().plotted());
    EXPECT_TRUE(traces[2].points.back().plotted()) << "a settling reading is a reading";
}

// An analyser that lacks the status and the source's name (as the maker's over COM) is asked
// for each once, at start-up, and never again; the meter then shows no annunciator.
TEST(ReadingStatus, AnAnalyserWithoutThemIsAskedOnceOnly) {
    Rig r;
    r.world.analyser.fail_member("SignalAnalyzer.SA_Status", "no such member");
    r.world.analyser.fail_member("SignalAnalyzer.SA_SourceName", "no such member");
    r.meter.start();
    r.meter.stop_timer();
    for (int i = 0; i < 5; ++i)
        r.work_tick();
    EXPECT_FALSE(r.meter.ended());
    EXPECT_EQ(r.world.count("get SignalAnalyzer.SA_Status -> failed"), 1);
    EXPECT_EQ(r.world.count("get SignalAnalyzer.SA_SourceName -> failed"), 1);
    EXPECT_EQ(r.world.count("get SignalAnalyzer.SA_Status"), 0);
    EXPECT_EQ(r.shown().annunciator + r.shown().source_name, "");
}

// A status flag no name covers still reaches the log, as its number.
TEST(ReadingStatus, FlagsInOrderOfSeriousness) {
    Polled p;
    p.world.analyser.override_value("SignalAnalyzer.SA_Status", Value(32 + 8 + 2 + 1024));
    p.work_tick();
    EXPECT_EQ(p.shown().annunciator, "OVLD");
    EXPECT_EQ(p.shown().status_words, "OVERLOAD SETTLING UNCALIBRATED 1024");
    EXPECT_TRUE(p.shown().raw_reading.has_value());
}

// "Calibrate…" with 1 V on a reading of 0.5 V doubles that channel's full scale: the same
// samples now read 1.000 V, and minimum and maximum start again.
TEST(Calibration, ATrueLevelSetsTheChannelsFullScale) {
    Polled p(loopback());
    p.world.set("Generator", "GEN_Level", Value(0.5));
    p.work_tick();
    p.work_tick();
    ASSERT_TRUE(p.shown().raw_reading);
    EXPECT_NEAR(*p.shown().raw_reading, 0.5, 1e-4);
    EXPECT_TRUE(p.meter.calibrate(1.0));
    p.work_tick();
    ASSERT_TRUE(p.shown().raw_reading);
    EXPECT_NEAR(*p.shown().raw_reading, 1.0, 2e-4);  // the loopback's own noise moves it a touch
    EXPECT_EQ(p.shown().minimum, p.shown().main_reading);
    EXPECT_EQ(p.shown().maximum, p.shown().main_reading);
    EXPECT_NEAR(to_double(p.world.get("AnalogueInputs", "AI_FullScaleA")), 20.0, 0.01);
    EXPECT_EQ(to_double(p.world.get("AnalogueInputs", "AI_FullScaleB")), 10.0);
    EXPECT_TRUE(p.world.messages.empty());
}

struct RefusedCalibration {
    const char* name;
    const char* object;  // a setting that makes the reading unfit, or nullptr
    const char* member;
    Value value;
    double true_v;
    const char* said;
};

class CalibrationRefused : public testing::TestWithParam<RefusedCalibration> {};

TEST_P(CalibrationRefused, ChangesNothingAndSaysWhy) {
    const RefusedCalibration& c = GetParam();
    Polled p(loopback());
    if (c.object)
        p.world.set(c.object, c.member, c.value);
    p.work_tick();
    EXPECT_FALSE(p.meter.calibrate(c.true_v));
    ASSERT_EQ(p.world.messages.size(), 1u);
    EXPECT_THAT(p.world.messages[0].text, HasSubstr(c.said));
    EXPECT_EQ(to_double(p.world.get("AnalogueInputs", "AI_FullScaleA")), 10.0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Meter, CalibrationRefused, testing::ValuesIn(std::vector<RefusedCalibration>{
    {"TrueLevelZero", nullptr, nullptr, Value(), 0.0, "above 0"},
    {"TrueLevelNegative", nullptr, nullptr, Value(), -1.0, "above 0"},
    {"TrueLevelNotANumber", nullptr, nullptr, Value(), std::nan(""), "above 0"},
    {"DigitalInput", "SignalAnalyzer", "SA_Source", Value(1), 1.0, "Only an analogue input"},
    {"InDbu", "CTDetector", "CTD_Unit", Value(23), 1.0, "in V"},
    {"Weighted", "CTDetector", "CTD_WeightingFilter", Value(1), 1.0, "unweighted"},
    {"NoSignal", "Generator", "GEN_On", Value(AutoBool::False), 1.0, "no signal"},
    {"Overloaded", "Generator", "GEN_Level", Value(20.0), 1.0, "OVERLOAD"},
}), testing_support::RowName());
// clang-format on

}  // namespace
}  // namespace vantel
