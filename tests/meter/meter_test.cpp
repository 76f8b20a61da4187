// SPDX-License-Identifier: MIT
// The meter on our analyser: its start-up, its update cycle (what it reads, in which order, and
// what it then shows), its one shut-down path, what its keys, legends and knob write into the
// analyser, what the analyser says of its reading through to the log's row and the trend, the
// calibration it sets from a true level, and a scripted run (which readings count, how each is
// judged, and when the run ends).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <ranges>

#include "automation/conversions.h"
#include "csv_table.h"
#include "meter/scripted_run.h"
#include "meter_fixture.h"
#include "trend/trend_series.h"
#include "value_cell.h"

namespace vantel {
namespace {

using ::testing::HasSubstr;
using namespace testing_support;
using testing_support::PrintTo;

TEST(UpdateCycle, ReadsTheAnalyserInItsOwnOrder) {
    Polled p;
    p.work_tick();
    AccessLog expected;
    for (const CsvRow& row : csv_beside("poll_order.csv")) {
        if (auto dot = row.name.find('.'); dot != std::string::npos)
            expected.push_back("get " + row.name.substr(0, dot));
        expected.push_back("get " + row.name);
    }
    ASSERT_GE(p.world.log->size(), expected.size());
    EXPECT_EQ(AccessLog(p.world.log->begin(), p.world.log->begin() + expected.size()), expected);
    EXPECT_EQ(p.world.log->back(), "get UNIT_V");
}

// A meter on our analyser with a scripted run attached as the program attaches it, its readings
// logged as (seconds, passed).
struct RunRig : Rig {
    ScriptedRun run;
    std::vector<std::pair<double, std::optional<bool>>> logged;

    explicit RunRig(RunPlan plan) : run(meter, std::move(plan)) {
        world.prepare = [this](const ObjectRef& analyser) { run.attach(analyser); };
        QObject::connect(&run, &ScriptedRun::logged, &run,
                         [this](const MeterReading& r, std::optional<bool> passed) {
                             logged.emplace_back(r.seconds, passed);
                         });
    }
    void start() {
        meter.start();
        meter.stop_timer();
    }
    // Work ticks until the run has logged `n` readings or the meter has ended; at most `limit`.
    void tick_until_logged(std::size_t n, int limit = 100) {
        for (int i = 0; i < limit && logged.size() < n && !meter.ended(); ++i)
            work_tick();
    }
};

// Scripts of steps on one meter: each row an action (a key of the meter, or the analyser moved as
// another client or a fault would move it; `new` takes a fresh meter, not started yet, and `run`
// one with a scripted run attached that discards the readings of its first `value` seconds) and,
// in `shows`, what must hold after it: field=value pairs split by ';', a list's items by ','. A
// field the table names wrongly fails the script, as does any value not as shown.
class MeterSteps : public testing::TestWithParam<const char*> {};

std::string to_text(int n) {
    return std::to_string(n);
}
std::string join(auto&& items) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

std::string shown_field(Rig& r, const TrendSeries& trend, const std::string& name) {
    const MeterReading& s = r.shown();
    const auto yes_no = [](bool b) { return std::string(b ? "true" : "false"); };
    const std::map<std::string, std::function<std::string()>> fields{
        {"main", [&] { return s.main_reading; }},
        {"min_max", [&] { return s.minimum + "|" + s.maximum; }},
        {"min_unit", [&] { return s.minimum_unit + "|" + s.maximum_unit; }},
        {"unit", [&] { return s.unit_word + "|" + std::to_string(s.unit_code); }},
        {"channel", [&] { return s.channel; }},
        {"input", [&] { return s.input + "|" + s.domain + "|" + s.lock; }},
        {"function", [&] { return s.function_name; }},
        {"lamp", [&] { return s.lit_lamp ? std::to_string(*s.lit_lamp) : "none"; }},
        {"mark", [&] { return yes_no(s.hold_mark) + "|" + yes_no(s.held); }},
        {"occasion",
         [&] {
             return std::array{"StartUp", "Cycle", "HeldTick", "Key"}[static_cast<int>(s.occasion)];
         }},
        {"status", [&] { return s.annunciator + "|" + s.status_words + "|" + s.source_name; }},
        {"raw", [&] { return yes_no(s.raw_reading.has_value()); }},
        {"weighting", [&] { return s.weighting_word; }},
        {"ended", [&] { return yes_no(r.meter.ended()); }},
        {"running", [&] { return yes_no(r.meter.running()); }},
        {"messages", [&] { return std::to_string(r.world.messages.size()); }},
        // The last box, with its icon: 1 a warning.
        {"message",
         [&] {
             if (r.world.messages.empty())
                 return std::string("none");
             const Message& m = r.world.messages.back();
             return std::to_string(static_cast<int>(m.icon)) + "|" + m.title + "|" + m.text;
         }},
        {"clock", [&] { return number_text(r.world.now_s); }},
        {"reports", [&] { return join(r.world.reports); }},
        {"ends", [&] { return join(r.world.ends | std::views::transform(to_text)); }},
        {"writes", [&] { return join(r.world.writes()); }},
        {"log", [&] { return std::to_string(r.world.log->size()); }},
        // A run's logged readings, at their milliseconds since the start.
        {"logged_ms",
         [&] {
             return join(dynamic_cast<RunRig&>(r).logged | std::views::transform([](const auto& l) {
                             return std::to_string(std::lround(l.first * 1000));
                         }));
         }},
        {"settling",
         [&] { return yes_no(dynamic_cast<RunRig&>(r).run.analyser_reports_settling()); }},
        // Each trace as the first trace of its measurement, its points, and why its last is no
        // reading (None: it is one).
        {"trend",
         [&] {
             std::vector<std::string> out;
             for (const TrendTrace& t : trend.traces())
                 out.push_back(
                     std::to_string(std::ranges::find(trend.traces(), t.key, &TrendTrace::key) -
                                    trend.traces().begin()) +
                     ":" + std::to_string(t.points.size()) + ":" +
                     std::array{"None", "NoInput", "Dropout", "InvalidSamples", "Held",
                                "Over"}[static_cast<int>(t.points.back().gap)]);
             return join(out);
         }},
    };
    if (name.starts_with("count:"))
        return std::to_string(r.world.count(name.substr(6)));
    if (name.starts_with("member:"))
        return member_at(*r.world.analyser.application(), name.substr(7)).describe();
    return fields.at(name)();
}

TEST_P(MeterSteps, ShowWhatTheTableSays) {
    std::unique_ptr<Rig> fresh = std::make_unique<Rig>();
    TrendSeries trend;
    for (const CsvRow& row : csv_beside(GetParam())) {
        Rig& r = *fresh;
        SCOPED_TRACE(row.where);
        const std::string &action = row["action"], &target = row["target"], &value = row["value"];
        if (action == "new") {  // the analyser ready after `value` s, measuring `target`
            fresh = std::make_unique<Rig>(
                value.empty() ? 0.0 : std::stod(value),
                target == "loopback" ? std::optional(source::analyser_loopback()) : std::nullopt);
            trend = TrendSeries();
        } else if (action == "run") {
            fresh = std::make_unique<RunRig>(RunPlan{.settle_s = std::stod(value)});
            trend = TrendSeries();
        } else if (action == "trend") {
            trend.add(r.shown());
        } else if (action == "start" || action == "start_untimed" || action == "poll") {
            if (value == "throws")  // an error for the caller, who says so and ends with 2
                EXPECT_THROW(r.meter.start(), AutomationError);
            else
                r.meter.start();  // its timer left running, as the program leaves it
            if (action != "start")
                r.meter.stop_timer();  // the script runs the ticks
            if (action == "poll") {
                r.work_tick();
                r.world.log->clear();
            }
        } else if (action == "clock") {
            r.world.now_s = row.number("value");
        } else if (action == "calibrate") {
            EXPECT_FALSE(r.meter.calibrate(row.number("value"))) << "taken";
        } else if (action == "ticks") {
            for (std::int64_t i = 0; i < row.integer("value"); ++i)
                r.work_tick();
        } else if (action == "reading") {
            r.cycle_reading(Value(row.number("value")));
        } else if (action == "set") {
            set_member_at(*r.world.analyser.application(), target, value_cell(value));
        } else if (action == "override") {  // const:NAME is the analyser's constant of that name
            r.world.analyser.override_value(
                target, value.starts_with("const:")
                            ? r.world.analyser.application()->get(value.substr(6))
                            : value_cell(value));
        } else if (action == "fail") {
            r.world.analyser.fail_member(target, value.empty() ? "refused by the test" : value);
        } else if (action == "clear_faults") {
            r.world.analyser.clear_faults();
        } else if (action == "gone_away") {
            r.world.analyser.set_gone_away(true);
        } else if (action == "default_weighting") {
            r.world.analyser.set_default_weighting(static_cast<int>(row.integer("value")));
        } else if (action == "frame_rate") {
            r.world.analyser.set_frame_rate(std::stoi(target), std::stoi(value));
        } else if (action == "function") {
            r.meter.select_function(value);
        } else if (action == "clear_log") {
            r.world.log->clear();
        } else if (action == "idle_cycles") {  // the clock stands still: only the count grows
            for (std::int64_t i = 0; i < row.integer("value"); ++i) {
                for (int t = 0; t < 4; ++t)
                    r.meter.tick();
                r.world.log->clear();
            }
        } else {
            const std::map<std::string, void (Meter::*)()> keys{{"hold", &Meter::toggle_hold},
                                                                {"reset", &Meter::reset_min_max},
                                                                {"channel", &Meter::toggle_channel},
                                                                {"input", &Meter::step_input},
                                                                {"domain", &Meter::toggle_domain},
                                                                {"unit", &Meter::step_unit},
                                                                {"close", &Meter::close}};
            (r.meter.*keys.at(action))();
        }
        for (const std::string& check : testing_support::words(row["shows"], ';')) {
            const std::size_t eq = check.find('=');
            EXPECT_EQ(shown_field(*fresh, trend, check.substr(0, eq)), check.substr(eq + 1))
                << check;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, MeterSteps,
                         testing::Values("start_up.csv", "hold.csv", "input_keys.csv", "inputs.csv",
                                         "status_changes.csv", "odd_readings.csv",
                                         "weighting_words.csv", "failures.csv", "lost_input.csv",
                                         "unit_read.csv", "status_once.csv", "settling.csv",
                                         "start_up_waits.csv", "refused_calibrations.csv"),
                         [](const auto& param) {
                             const std::string file = param.param;
                             return file.substr(0, file.find('.'));
                         });

// What the keys, legends and knob make the meter write into the analyser.
struct Key {
    void (Meter::*action)();
    std::string MeterReading::*word;  // shows `placeholder` until the next status refresh
    const char* placeholder;
    const char* member;   // the detector setting it steps
    const char* warning;  // shown for a code the key cannot step from
};
const std::map<std::string, Key> kKeys{
    {"unit", {&Meter::step_unit, &MeterReading::unit_word, " - - ", "CTD_Unit", ""}},
    {"weighting",
     {&Meter::step_weighting, &MeterReading::weighting_word, " - - ", "CTD_WeightingFilter",
      "Invalid Weighting Filter already selected"}},
    {"response",
     {&Meter::step_response, &MeterReading::response_word, "- -", "CTD_Response",
      "Invalid response already selected"}},
    {"relativity",
     {&Meter::step_relativity, &MeterReading::relativity_word, " - - ", "CTD_Relativity", ""}}};

class SettingKey : public testing::TestWithParam<CsvRow> {};

// Keys step from what the meter last showed, so a second press before the next poll repeats the
// first; what a key asks for is written whether or not the analyser takes it. No poll would ever
// replace the placeholder of a refused write, so the key puts the word of the setting still in
// force back at once.
TEST_P(SettingKey, ShowsItsPlaceholderAndWritesTheNextCodeOrWarns) {
    const CsvRow& row = GetParam();
    const Key& key = kKeys.at(row["key"]);
    const bool writes = row["written"] != "warns", refused = !row["refused_word"].empty();
    Polled p;
    const std::string member = std::string("CTDetector.") + key.member;
    p.world.analyser.override_value("CTDetector.CTD_Relativity", Value(row.integer("relativity")));
    p.world.analyser.override_value(member, Value(row.integer("current")));
    p.work_tick();
    p.world.log->clear();
    if (refused)
        p.world.analyser.fail_member(member);
    (p.meter.*key.action)();
    (p.meter.*key.action)();
    Strings w = p.world.writes();
    // The analyser itself refuses some of these writes; the word then comes back too.
    if (refused) {
        EXPECT_EQ(p.shown().*key.word, row["refused_word"]);
    } else if (w.empty() || !w.back().ends_with(" -> failed") || row["key"] == "unit") {
        EXPECT_EQ(p.shown().*key.word, key.placeholder);
    }
    EXPECT_EQ(p.shown().occasion, MeterReading::Occasion::Key);
    EXPECT_FALSE(p.meter.ended());
    for (std::string& line : w)
        line = line.substr(0, line.find(" -> "));
    EXPECT_EQ(w, Strings(writes ? 2 : 0, "set " + member + " = " + row["written"]));
    ASSERT_EQ(p.world.messages.size(), writes ? 0u : 2u);
    for (const Message& m : p.world.messages)
        EXPECT_EQ(std::tuple(m.text, m.title, m.icon),
                  std::tuple(key.warning, "Vantel DMM", Message::Icon::Warning));
}

INSTANTIATE_TEST_SUITE_P(Cycles, SettingKey, testing::ValuesIn(csv_beside("setting_keys.csv")),
                         RowName());

// A number a row may leave empty.
std::optional<double> given(const CsvRow& row, const char* column) {
    return row[column].empty() ? std::nullopt : std::optional(row.number(column));
}

class RunEnd : public testing::TestWithParam<CsvRow> {};

TEST_P(RunEnd, GivesTheCodeOfWhatWasJudged) {
    const CsvRow& c = GetParam();
    RunRig rig({.count = c["count"].empty() ? std::nullopt : std::optional(c.integer("count")),
                .duration_s = given(c, "duration_s"),
                .settle_s = given(c, "settle_s"),
                .limits = c.flag("judged")
                              ? std::optional(Limits{given(c, "low"), given(c, "high")})
                              : std::nullopt});
    rig.world.analyser.override_value("CTDetector.CTD_ChA", value_cell(c["reading"]));
    rig.start();
    rig.tick_until_logged(1000, 30);
    EXPECT_EQ(rig.logged.size(), c.integer("logged"));
    EXPECT_EQ(rig.world.ends, std::vector<int>{kExitClosed}) << "the run closes the meter";
    EXPECT_EQ(rig.run.readings_failed(), c.integer("failed"));
    EXPECT_EQ(rig.run.exit_code(), c["exit_code"] == "closed" ? kExitClosed : kExitLimitFailed);
}

INSTANTIATE_TEST_SUITE_P(Plans, RunEnd, testing::ValuesIn(csv_beside("run_ends.csv")), RowName());

class LimitsText : public testing::TestWithParam<CsvRow> {};

TEST_P(LimitsText, ReadsLowColonHigh) {
    const CsvRow& c = GetParam();
    std::string error;
    const std::optional<Limits> got = parse_limits(c["text"], error);
    ASSERT_EQ(got.has_value(), c.flag("valid")) << error;
    if (got) {
        EXPECT_EQ(got->low, given(c, "low"));
        EXPECT_EQ(got->high, given(c, "high"));
    } else {
        EXPECT_THAT(error, HasSubstr("--limits"));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, LimitsText, testing::ValuesIn(csv_beside("limits_texts.csv")),
                         RowName());

}  // namespace
}  // namespace vantel
