// SPDX-License-Identifier: MIT
// The meter's start-up, its update cycle (what it reads, in which order, and what it then shows)
// and its one shut-down path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "automation/conversions.h"
#include "meter_fixture.h"

namespace vantel {
namespace {

using testing_support::Polled;
using testing_support::PrintTo;
using testing_support::Rig;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(UpdateCycle, ReadsTheAnalyserInItsOwnOrder) {
    Polled p;
    p.work_tick();
    // Ranged unit V on the analogue input XLR / BNC; nothing changed, so no status refresh. Each
    // member's object is fetched afresh before it; the analyser's status follows the reading,
    // and as all is well no status constant is read; the unit's class and word then read the
    // constants up to UNIT_V.
    AccessLog expected;
    for (std::string path :
         {"CTDetector.CTD_Unit", "CTDetector.CTD_WeightingFilter", "CTDetector.CTD_Response",
          "CTDetector.CTD_Relativity", "SignalAnalyzer.SA_DefaultWeightingFilter",
          "CTDetector.CTD_Function", "SignalAnalyzer.SA_Source", "AnalogueInputs.AI_Source",
          "AI_SOURCE_BAL_UNBAL", "SignalAnalyzer.SA_SourceName", "CTDetector.CTD_ChA",
          "SignalAnalyzer.SA_Status", "UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP", "UNIT_VPP",
          "UNIT_W", "UNIT_V"}) {
        if (auto dot = path.find('.'); dot != std::string::npos)
            expected.push_back("get " + path.substr(0, dot));
        expected.push_back("get " + path);
    }
    ASSERT_GE(p.world.log->size(), expected.size());
    EXPECT_EQ(AccessLog(p.world.log->begin(), p.world.log->begin() + expected.size()), expected);
    EXPECT_EQ(p.world.log->back(), "get UNIT_V");
}

TEST(UpdateCycle, InputDomainDecidesTheInputWords) {
    Polled p;
    const MeterReading& s = p.shown();
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    for (auto [connector, rate, word, lock] : {std::tuple{0, 48000, "XLR", "Locked: 48kHz"},
                                               {2, 44100, "TOSLINK", "Locked: 44.1kHz"},
                                               {1, 0, "BNC", "Unlocked"}}) {
        p.world.analyser.set_frame_rate(connector, rate);
        p.world.set("DigitalInputs", "DI_Source", Value(connector));
        p.world.log->clear();
        p.work_tick();
        EXPECT_EQ(s.input + "|" + s.domain + "|" + s.lock, word + std::string("|Digital|") + lock);
        EXPECT_EQ(p.world.count("get DigitalInputs.DI_Source"), 2);
    }
    p.world.set("SignalAnalyzer", "SA_Source", Value(0));
    p.work_tick();
    EXPECT_EQ(s.domain + "|" + s.lock, "Analogue|");
    // A domain that is neither leaves the input words alone and the meter running.
    p.world.set("AnalogueInputs", "AI_Source", Value(3));
    p.world.analyser.override_value("SignalAnalyzer.SA_Source", Value(2));
    p.work_tick();
    EXPECT_EQ(s.input + "|" + s.domain, "XLR / BNC|Analogue");
    EXPECT_FALSE(p.meter.ended());
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
    p.cycle_reading(Value(0.5));  // spread minimum and maximum apart, each with its own unit
    p.cycle_reading(Value(2.0));
    ASSERT_EQ(p.shown().maximum + p.shown().maximum_unit, "2.000V");
    ASSERT_EQ(p.shown().minimum + p.shown().minimum_unit, "500.0mV");

    if (c.member)
        p.world.set("CTDetector", c.member, Value(c.value));
    else
        p.world.analyser.set_default_weighting(to_code(c.value));
    p.cycle_reading(Value(1.25));
    EXPECT_EQ(p.shown().minimum, c.restarts ? p.shown().main_reading : "500.0");
    EXPECT_EQ(p.shown().maximum, c.restarts ? p.shown().main_reading : "2.000");
    p.cycle_reading(Value(1.5));
    EXPECT_EQ(p.shown().minimum, c.restarts ? "1.250" : "500.0") << "reset only once";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Kinds, StatusChange, testing::ValuesIn(std::vector<ChangeCase>{
    {"Unit", "CTD_Unit", Value(21), true}, {"Weighting", "CTD_WeightingFilter", Value(3), true},
    {"Response", "CTD_Response", Value(1), true}, {"Relativity", "CTD_Relativity", Value(1), true},
    {"DefaultWhileDefault", nullptr, Value(4), true, 5},
    {"DefaultOtherwise", nullptr, Value(4), false, 1},
    // A function keeps its own settings: one in volts leaves minimum and maximum going, one in
    // dB restarts them, so that they never mix the two.
    {"FunctionInTheSameUnit", "CTD_Function", Value("Noise (RMS)"), false},
    {"FunctionInItsOwnUnit", "CTD_Function", Value("Balance"), true},
}), testing_support::RowName());
// clang-format on

TEST(UpdateCycle, ChannelKeySwitchesTheReadingButKeepsMinimumAndMaximum) {
    Polled p;
    p.world.analyser.override_value("CTDetector.CTD_ChB", Value(3.0));
    p.cycle_reading(Value(1.0));
    p.meter.toggle_channel();
    p.work_tick();
    const MeterReading& s = p.shown();
    EXPECT_EQ(s.channel + s.main_reading + " " + s.minimum + " " + s.maximum, "B3.000 1.000 3.000");
    p.meter.toggle_channel();
    p.work_tick();
    EXPECT_EQ(s.channel + s.main_reading, "A1.000");
}

struct OddReading {
    const char* name;
    Value value;
    bool hex;
};

class OverRange : public testing::TestWithParam<OddReading> {};

// A reading that is no usable number shows as over-range; the cycle and min/max go on.
TEST_P(OverRange, ShowsOverAndMinMaxPassItBy) {
    const auto& [name, odd, hex] = GetParam();
    Polled p;
    if (hex)
        p.world.analyser.override_value("CTDetector.CTD_Unit",
                                        p.world.analyser.application()->get("UNIT_HEX"));
    p.cycle_reading(Value(3.0));
    const MeterReading before = p.shown();
    p.cycle_reading(odd);
    EXPECT_FALSE(p.meter.ended());
    EXPECT_EQ(p.shown().main_reading, "OVER");
    EXPECT_FALSE(p.shown().raw_reading.has_value());
    EXPECT_EQ(p.shown().minimum + p.shown().maximum, before.minimum + before.maximum);
    p.cycle_reading(Value(1.0));
    EXPECT_EQ(p.shown().minimum, p.shown().main_reading);
    EXPECT_EQ(p.shown().raw_reading, 1.0);
    // Restarted at an unusable reading, they stay open: the next real reading becomes both.
    p.meter.reset_min_max();
    p.cycle_reading(odd);
    p.cycle_reading(Value(2.0));
    EXPECT_EQ(p.shown().minimum, p.shown().main_reading);
    EXPECT_EQ(p.shown().maximum, p.shown().main_reading);
}

INSTANTIATE_TEST_SUITE_P(Values, OverRange,
                         testing::Values(OddReading{"NaN", Value(kNaN), false},
                                         OddReading{"Infinity", Value(kInf), false},
                                         OddReading{"Text", Value("-----"), false},
                                         OddReading{"HexBeyond32Bits", Value(5e9), true}),
                         testing_support::RowName());

TEST(UpdateCycle, UnusableAnalyserClosesWithoutABoxButSaysWhyAndEndsWithCodeThree) {
    for (bool gone : {true, false}) {
        SCOPED_TRACE(gone ? "gone away" : "code beyond 16 bits");
        Polled p;
        if (gone)
            p.world.analyser.set_gone_away(true);
        else
            p.world.analyser.override_value("CTDetector.CTD_Response", Value(40000));
        p.work_tick();
        EXPECT_TRUE(p.meter.ended());
        EXPECT_TRUE(p.world.messages.empty());
        EXPECT_EQ(p.world.ends, std::vector<int>{3});
        // Names the member that failed, and why.
        EXPECT_THAT(
            p.world.reports,
            testing::ElementsAre(testing::HasSubstr(gone ? "CTDetector: the analyser has gone away"
                                                         : "CTDetector.CTD_Response: ")));
    }
}

// An analyser between units may refuse the unit's read: the unit shown stands. The poll goes on
// however long the program runs.
TEST(UpdateCycle, RefusedUnitReadKeepsTheUnitAndThePollGoesOnPastTheCycleCounterLimit) {
    Polled p;
    p.world.analyser.fail_member("CTDetector.CTD_Unit");
    p.cycle_reading(Value(0.002));
    EXPECT_FALSE(p.meter.ended());
    EXPECT_EQ(p.shown().unit_word, "mV");
    EXPECT_EQ(p.shown().unit_code, 20);
    p.world.analyser.clear_faults();
    // A fixed reading: 32,767 cycles of real measurement would only cost time.
    p.world.analyser.override_value("CTDetector.CTD_ChA", Value(0.002));
    for (int i = 0; i < std::numeric_limits<std::int16_t>::max(); ++i) {
        p.work_tick();
        p.world.log->clear();
    }
    p.world.set("CTDetector", "CTD_Unit", Value(23));
    p.work_tick();
    EXPECT_EQ(p.shown().unit_word, "dBu");
}

// Held, no cycle runs and the mark flips every 600 ms; minimum and maximum continue from their
// held values on release, and a reset while held waits for the release too.
TEST(Hold, FreezesTheDisplayBlinksEverySixHundredMillisecondsAndDefersAReset) {
    Polled p;
    p.cycle_reading(Value(1.0));
    p.meter.toggle_hold();
    p.world.analyser.override_value("CTDetector.CTD_ChA", Value(9.0));
    p.world.log->clear();
    std::vector<bool> mark;  // work ticks of 200 ms: the mark flips at every third one
    for (int i = 0; i < 9; ++i) {
        p.work_tick();
        mark.push_back(p.shown().hold_mark);
        EXPECT_EQ(p.shown().occasion, MeterReading::Occasion::HeldTick);
        EXPECT_TRUE(p.shown().held);
    }
    EXPECT_EQ(mark, (std::vector<bool>{true, true, true, false, false, false, true, true, true}));
    EXPECT_TRUE(p.world.log->empty()) << "no cycle runs while held";
    EXPECT_EQ(p.shown().main_reading, "1.000");
    p.meter.toggle_hold();
    p.work_tick();
    EXPECT_FALSE(p.shown().hold_mark || p.shown().held);
    EXPECT_EQ(p.shown().minimum + " " + p.shown().maximum, "1.000 9.000");

    p.meter.toggle_hold();
    p.meter.reset_min_max();
    p.world.analyser.override_value("CTDetector.CTD_ChA", Value(1.5));
    for (int i = 0; i < 5; ++i)
        p.work_tick();
    EXPECT_EQ(p.shown().minimum + "|" + p.shown().maximum, " -- | -- ");
    p.meter.toggle_hold();
    p.work_tick();
    EXPECT_EQ(p.shown().minimum + " " + p.shown().maximum, "1.500 1.500");
}

struct WordCase {
    const char* name;
    const char* member;
    int code, default_filter;
    std::string MeterReading::*word;
    const char* shown;
};

class StatusWord : public testing::TestWithParam<WordCase> {};

// While the detector follows the default filter, the weighting word names the default filter.
TEST_P(StatusWord, FollowsTheAnalyser) {
    const WordCase& c = GetParam();
    Rig r;
    r.world.analyser.set_default_weighting(c.default_filter);
    r.world.set("CTDetector", c.member, Value(c.code));
    r.meter.start();
    r.work_tick();
    EXPECT_EQ(r.shown().*c.word, c.shown);
}

constexpr auto kWeighting = &MeterReading::weighting_word;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, StatusWord, testing::ValuesIn(std::vector<WordCase>{
    {"Weighting", "CTD_WeightingFilter", 1, 3, kWeighting, "A weighted"},
    {"DefaultIsA", "CTD_WeightingFilter", 5, 1, kWeighting, "A weighted"},
    {"DefaultIsCcir", "CTD_WeightingFilter", 5, 4, kWeighting, "CCIR468 2k"},
    {"DefaultIsDefault", "CTD_WeightingFilter", 5, 5, kWeighting, "default"},
    {"DefaultUnnamed", "CTD_WeightingFilter", 5, 2, kWeighting, "2"},
    {"ResponseQPeak", "CTD_Response", 3, 1, &MeterReading::response_word, "Q-Peak"},
    {"GeneratorRelative", "CTD_Relativity", 2, 1, &MeterReading::relativity_word, "gen. rel."},
}), testing_support::RowName());
// clang-format on

bool wrote_option(const AccessLog& log) {
    return std::any_of(log.begin(), log.end(), [](const std::string& l) {
        return l.starts_with("set Options.OPT_UseSettlingsFromScripts");
    });
}

TEST(StartUp, FirstReadingFillsTheDisplayAndTheFirstTimedCycleIsTheFirstPoll) {
    Rig r;
    r.world.analyser.override_value("CTDetector.CTD_ChA", Value(0.25));
    r.meter.start();
    EXPECT_EQ(r.world.count("get CTDetector.CTD_Unit"), 0) << "the start-up cycles do not poll";
    const MeterReading& s = r.shown();
    EXPECT_EQ(s.occasion, MeterReading::Occasion::StartUp);
    EXPECT_FALSE(s.hold_mark);
    // Minimum and maximum start as copies of the first reading; the status is as designed,
    // and the unit not yet known (so the reading takes the plain path).
    EXPECT_EQ(s.main_reading + " " + s.minimum + " " + s.maximum, "0.250 0.250 0.250");
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

struct WaitCase {
    const char* name;
    double ready_after_s, clock_start_s;
    Value ready_value;  // empty: the analyser's own answer
    int questions;      // 11: it gives up
    double waited_s;
};

class StartUpWait : public testing::TestWithParam<WaitCase> {};

// The meter asks about every two seconds, and gives up after eleven questions changing nothing.
TEST_P(StartUpWait, AsksEveryTwoSecondsAndGivesUpAfterElevenQuestions) {
    const WaitCase& c = GetParam();
    Rig r(c.ready_after_s);
    r.world.now_s = c.clock_start_s;
    if (c.ready_value.kind() != Value::Kind::Empty)
        r.world.analyser.override_value("IsInitialised", c.ready_value);
    r.meter.start();
    const bool gives_up = c.questions == 11;
    EXPECT_EQ(r.world.count("get IsInitialised"), c.questions);
    EXPECT_NEAR(r.world.now_s - c.clock_start_s, c.waited_s, 1e-9);
    EXPECT_EQ(r.world.ends, gives_up ? std::vector<int>{2} : std::vector<int>{});
    EXPECT_EQ(r.meter.ended(), gives_up);
    EXPECT_EQ(r.meter.running(), !gives_up);
    EXPECT_EQ(wrote_option(*r.world.log), !gives_up);
    ASSERT_EQ(r.world.messages.size(), gives_up ? 1u : 0u);
    for (const Message& m : r.world.messages)
        EXPECT_EQ(std::tuple(m.icon, m.title, m.text),
                  std::tuple(Message::Icon::Warning, "Vantel DMM",
                             "The program has timed out waiting for the Vantel Application to "
                             "initialise and will now close.  "));
}

// The meter comes a second after the analyser: asked at 1, 3 and 5 s (not ready), then at 7 s
// (ready). The clock is monotonic: a wait that would cross midnight still ends.
INSTANTIATE_TEST_SUITE_P(
    Cases, StartUpWait,
    testing::Values(WaitCase{"ReadyAtOnce", 0.0, 5001.0, Value(), 1, 0.0},
                    WaitCase{"ReadyAfterSixSeconds", 6.0, 5001.0, Value(), 4, 6.0},
                    WaitCase{"NeverReady", 1e9, 5000.0, Value(), 11, 21.0},
                    WaitCase{"AcrossMidnight", 1e9, 86390.0, Value(), 11, 21.0},
                    WaitCase{"OneInsteadOfTrue", 1e9, 5000.0, Value(1), 11, 21.0}),
    testing_support::RowName());

// The option is switched off while the panel runs and put back exactly as it was, once; one that
// cannot be read is never written, since nothing could put it back.
TEST(StartUp, OptionIsPutBackAsItWasOnceAndAnUnreadableOneNeverWritten) {
    for (bool readable : {true, false}) {
        SCOPED_TRACE(readable);
        Rig r;
        r.world.set("Options", "OPT_UseSettlingsFromScripts", Value(7));  // an odd saved value
        if (!readable)
            r.world.analyser.fail_member("Options.OPT_UseSettlingsFromScripts");
        int closed = 0;
        QObject::connect(&r.meter, &Meter::closed, &r.meter, [&closed] { ++closed; });
        r.meter.start();
        EXPECT_TRUE(r.meter.running());
        EXPECT_EQ(r.world.count("get Options.OPT_UseSettlingsFromScripts -> failed"), !readable);
        r.world.analyser.clear_faults();
        r.meter.close();
        r.meter.close();
        EXPECT_EQ(wrote_option(*r.world.log), readable);
        EXPECT_EQ(r.world.get("Options", "OPT_UseSettlingsFromScripts"), Value(7));
        EXPECT_EQ(r.world.ends, std::vector<int>{0});
        EXPECT_EQ(closed, 1);
        EXPECT_FALSE(r.meter.running());
    }
}

// An unreachable analyser is an error for the caller (the program says so, and ends with 2); a
// first cycle that fails ends the meter with code 3, and the option is never touched.
TEST(StartUp, UnreachableAnalyserThrowsAndAFailingFirstCycleEndsWithCodeThree) {
    Rig gone;
    gone.world.analyser.set_gone_away(true);
    EXPECT_THROW(gone.meter.start(), AutomationError);
    EXPECT_TRUE(gone.world.messages.empty());
    Rig r;
    r.world.analyser.fail_member("CTDetector.CTD_ChA");
    r.meter.start();
    EXPECT_TRUE(r.meter.ended());
    EXPECT_FALSE(r.meter.running());
    EXPECT_EQ(r.world.ends, std::vector<int>{3});
    EXPECT_TRUE(r.world.messages.empty());
    EXPECT_EQ(r.world.count("get Options.OPT_UseSettlingsFromScripts"), 0);
    EXPECT_FALSE(wrote_option(*r.world.log));
}

}  // namespace
}  // namespace vantel
