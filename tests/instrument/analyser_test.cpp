// SPDX-License-Identifier: MIT
// Our analyser through its automation members: the named constants, how it takes and refuses
// settings, its scripted misbehaviour, the settings it keeps between runs, and what it measures
// in sampled signals against the signal's arithmetic (gains, weighting curves, noise through a
// filter), with its status flags each raised by a real cause in the signal or the input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "csv_table.h"
#include "instrument/analyser.h"
#include "instrument/constants.h"
#include "instrument/measurement.h"
#include "instrument/saved_state.h"
#include "row_name.h"
#include "sound_file.h"
#include "sources/live_source.h"
#include "value_cell.h"
#include "weighting_curves.h"

namespace vantel {
namespace {

using ::testing::HasSubstr;
using namespace testing_support;
using testing_support::PrintTo;

std::int64_t code(std::string_view name) {
    return instrument::find_constant(name)->code;
}

// A table's value: KIND:TEXT (value_cell.h), or const:NAME for a named constant's code.
Value cell_value(const std::string& cell) {
    return cell.starts_with("const:") ? Value(code(cell.substr(6))) : value_cell(cell);
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// The device under test without noise or drift, both channels at unity gain: readings are plain
// arithmetic on the generator's level.
source::DeviceModel exact_device() {
    source::DeviceModel d = source::device_under_test();
    d.drift = 0.0;
    for (source::ChannelModel& m : d.channels) {
        m.gain = 1.0;
        m.noise_v_rms = 0.0;
    }
    return d;
}

AnalyserOptions on(std::string input, std::optional<source::DeviceModel> device = {}) {
    AnalyserOptions o;
    o.input = std::move(input);
    o.device = std::move(device);
    return o;
}

// Our analyser on a clock the test moves, telling its warnings to the test.
struct Bench {
    double now_s = 0.0;
    std::vector<std::string> warnings;
    std::optional<vantel::Analyser> analyser;
    ObjectRef app;

    explicit Bench(AnalyserOptions o = on("sim", exact_device())) { open(std::move(o)); }
    void open(AnalyserOptions o) {
        now_s = 0.0;
        o.clock = [this] { return now_s; };
        o.warn = [this](const std::string& line) { warnings.push_back(line); };
        warnings.clear();
        analyser.emplace(std::move(o));
        app = analyser->application();
    }
    // Member access by path: "CTDetector.CTD_Unit", or "IsInitialised" on the application.
    Value get(std::string_view path) { return member_at(*app, path); }
    void set(std::string_view path, const Value& v) { set_member_at(*app, path, v); }
    void set(std::string_view path, const char* constant) { set(path, Value(code(constant))); }
    void function(const char* name) { set("CTDetector.CTD_Function", Value(name)); }
    // A reading once the input has run for `settle_s` (a change takes a window to show).
    double reading(const char* channel = "CTD_ChA", double settle_s = 1.0) {
        now_s += settle_s;
        const double r = to_double(get_member(*app, "CTDetector", channel));
        EXPECT_TRUE(std::isfinite(r)) << channel;
        return r;
    }
    // The status of a reading of channel A taken at `t_s`.
    std::int32_t status_at(double t_s) {
        now_s = t_s;
        to_double(get("CTDetector.CTD_ChA"));
        return to_int32(get("SignalAnalyzer.SA_Status"));
    }
};

// Read-only integers, each enumeration's codes distinct (the names the panel reads and their
// fixed codes are its vocabularies', reading_format_test.cpp; that the status flags are a bit
// each, so that they combine, its ReadingStatus tests show).
TEST(Constants, AreReadOnlyWithDistinctCodes) {
    ObjectRef app = vantel::Analyser().application();
    EXPECT_THROW(app->set("UNIT_V", Value(5)), AutomationError);
    EXPECT_EQ(app->get("UNIT_V"), Value(std::int64_t{20}));
    EXPECT_THROW(app->get("UNIT_VOLTS"), AutomationError);
    using E = instrument::Enumeration;
    for (E enumeration : {E::Unit, E::Weighting, E::Response, E::Relativity, E::AnalogueSource,
                          E::DigitalSource, E::Status}) {
        std::set<std::int16_t> codes;
        for (const instrument::NamedConstant& c : instrument::kConstants)
            if (c.enumeration == enumeration) {
                EXPECT_TRUE(codes.insert(c.code).second) << c.name << " repeats a code";
            }
    }
    EXPECT_FALSE(instrument::is_member(E::Weighting, instrument::kUnnamedWeighting));
}

class RefusedWrites : public testing::TestWithParam<CsvRow> {};

TEST_P(RefusedWrites, FailNamingTheMemberAndKeepTheSetting) {
    const std::string& path = GetParam()["path"];
    const Value value = cell_value(GetParam()["value"]);
    Bench b;
    const Value before = b.get(path);
    EXPECT_THAT(thrown<AutomationError>([&] { b.set(path, value); }),
                testing::MatchesRegex(path + ": .+"))
        << value.describe() << " was taken, or the refusal names no member or no reason";
    if (path != "CTDetector.CTD_ChA") {  // a reading moves anyway
        EXPECT_EQ(b.get(path), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Analyser, RefusedWrites,
                         testing::ValuesIn(csv_beside("refused_writes.csv")), RowName());

// The settings between runs: an analyser keeping them in `file`; `input` unless the settings
// name a source.
AnalyserOptions keeping(const std::string& file, std::string input = "sim",
                        bool input_from_settings = true) {
    AnalyserOptions o = on(std::move(input));
    o.input_from_settings = input_from_settings;
    o.settings_file = file;
    return o;
}

// Scripts of writes on one fresh analyser, each step checking the detector's settings after it:
// how relativity and the functions move the unit (unit_moves.csv), each function's own settings
// (function_settings.csv), what it then measures (readings.csv), and what it keeps between runs
// (saved_runs.csv). An empty cell, or a column the script has not, is not checked.
class SettingSteps : public testing::TestWithParam<const char*> {};

const std::string& cell(const CsvRow& row, const std::string& column) {
    static const std::string none;
    const std::vector<std::string>& columns = *row.columns;
    return std::ranges::find(columns, column) == columns.end() ? none : row[column];
}

TEST_P(SettingSteps, LeaveTheDetectorAsTheTableSays) {
    Bench b;
    for (const CsvRow& row : csv_beside(GetParam())) {
        SCOPED_TRACE(row.where);
        const std::string saved = in_home("vantel-dmm/analyser.conf");
        const std::string& open = cell(row, "open");
        if (open.starts_with("tone:")) {
            const std::vector<std::string> tone = testing_support::words(open, ':');
            const double rate_hz = std::stod(tone[1]), frequency_hz = std::stod(tone[2]);
            b.open(on(write_sound_file(
                in_home("tone.wav"), static_cast<int>(rate_hz), std::stod(tone[3]),
                [=](long long n) { return 0.5 * sine(frequency_hz, rate_hz, n); })));
        } else if (open.starts_with("kept")) {
            if (row["file_before"] == "none") {
                std::filesystem::remove(saved);
            } else if (!row["file_before"].empty()) {
                std::filesystem::create_directories(std::filesystem::path(saved).parent_path());
                std::ofstream(saved) << row.text("file_before");
            }
            const std::vector<std::string> given = testing_support::words(open, ':');
            AnalyserOptions o =
                given.size() == 1 ? keeping(saved) : keeping(saved, given[1], false);
            if (given.size() == 3)
                o.analogue_full_scale_v = std::stod(given[2]);
            b.open(std::move(o));
        } else if (!open.empty()) {
            source::DeviceModel device = exact_device();
            device.channels[1].gain = open == "b_half" ? 0.5 : 1.0;
            b.open(on("sim", device));
        }
        if (row["path"] == "generator_v")
            b.analyser->set_generator(to_double(cell_value(row["value"])), 1000.0);
        else if (!cell(row, "refused").empty() && row.flag("refused"))
            EXPECT_THROW(b.set(row["path"], cell_value(row["value"])), AutomationError);
        else if (!row["path"].empty())
            b.set(row["path"], cell_value(row["value"]));
        for (auto [column, member] : {std::pair{"unit", "CTD_Unit"},
                                      {"weighting", "CTD_WeightingFilter"},
                                      {"response", "CTD_Response"},
                                      {"relativity", "CTD_Relativity"}}) {
            const std::string& want = cell(row, column);
            if (!want.empty()) {
                EXPECT_EQ(b.get(std::string("CTDetector.") + member),
                          Value(std::isdigit(static_cast<unsigned char>(want[0]))
                                    ? std::int64_t{std::stoll(want)}
                                    : code(want)))
                    << member;
            }
        }
        if (!cell(row, "function").empty()) {
            EXPECT_EQ(b.get("CTDetector.CTD_Function"), Value(row["function"]));
        }
        const std::string &read = cell(row, "read"), &settle_s = cell(row, "settle_s");
        if (read.starts_with("CTD_Ch")) {
            const double r = b.reading(read.c_str(), settle_s.empty() ? 1.0 : std::stod(settle_s));
            if (row["expected"].starts_with('<')) {
                EXPECT_LT(r, std::stod(row["expected"].substr(1)));
            } else {
                EXPECT_NEAR(r, row.number("expected"), row.number("tolerance"));
            }
        } else if (!read.empty()) {
            EXPECT_EQ(b.get(read), cell_value(row["expected"])) << read;
        } else if (!settle_s.empty()) {
            b.now_s += std::stod(settle_s);
        }
        const std::string& warned = cell(row, "warned");
        if (warned == "none") {
            EXPECT_THAT(b.warnings, testing::IsEmpty());
        } else if (!warned.empty()) {
            EXPECT_THAT(b.warnings, testing::ElementsAre(HasSubstr(warned)));
        }
        if (!cell(row, "file_has").empty()) {
            std::stringstream text;
            text << std::ifstream(saved).rdbuf();
            EXPECT_THAT(text.str(), HasSubstr(row["file_has"]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, SettingSteps,
                         testing::Values("unit_moves.csv", "function_settings.csv", "readings.csv",
                                         "saved_runs.csv"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param, std::strcspn(p.param, "."));
                         });

std::string settings_file(const char* text = nullptr) {
    const std::string file = in_home("analyser.conf");
    if (text) {
        QFile f(QString::fromStdString(file));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    return file;
}

class CorruptFile : public testing::TestWithParam<CsvRow> {};

// One warning, the defaults, and the file kept as ".bad" for whoever wants to see it.
TEST_P(CorruptFile, GivesTheDefaultsAndIsKeptAside) {
    const std::string text = GetParam().text("text");
    const std::string file = settings_file(text.c_str());
    Bench run(keeping(file));
    EXPECT_THAT(run.warnings, testing::ElementsAre(HasSubstr(".bad")));
    EXPECT_EQ(run.get("CTDetector.CTD_Function"), Value("Amplitude"));
    EXPECT_EQ(run.get("CTDetector.CTD_Unit"), Value(std::int64_t{20}));
    EXPECT_EQ(run.get("AnalogueInputs.AI_FullScaleA"), Value(10.0));
    QFile bad(QString::fromStdString(file + ".bad"));
    ASSERT_TRUE(bad.open(QIODevice::ReadOnly));
    EXPECT_EQ(bad.readAll().toStdString(), text);
    EXPECT_TRUE(Bench(keeping(file)).warnings.empty()) << "the defaults were written in its place";
}

INSTANTIATE_TEST_SUITE_P(Analyser, CorruptFile,
                         testing::ValuesIn(csv_beside("corrupt_settings.csv")), RowName());

// What a later version may add is passed over; names and values keep any character, and each
// channel its own.
TEST(SavedState, UnknownSectionsAndKeysArePassedOverAndAnyNameSurvives) {
    std::string error;
    const auto state = instrument::parse_saved_state(
        "# a comment\n[analyser]\nsource=jack\ncolour=blue\n[telescope]\nfocus=3\n"
        "[simulated/Loudness]\nunit=1\nweighting=0\nresponse=0\nrelativity=0\n",
        error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->source, "jack");
    instrument::SavedState odd;
    odd.source = "/music/a=b [live]%20\n/x.wav";
    odd.calibrations[*odd.source][1] = 0.125;
    odd.profiles[instrument::SourceKind::SoundCard].self_reference = {0.5, 0.25};
    const auto back = instrument::parse_saved_state(instrument::saved_state_text(odd), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, odd);
}

// A run killed at any moment while it writes its settings leaves a whole file: the old one or
// the new one, never a part.
TEST(SavedSettings, ARunKilledWhileSavingLeavesAWholeFile) {
    const std::string file = settings_file();
    Bench(keeping(file)).function("Balance");
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves as fast as it can until it is killed.
            Bench busy(keeping(file));
            for (int i = 0;; ++i)
                busy.function(i % 2 ? "Balance" : "Cross-talk");
        }
        ::usleep(static_cast<useconds_t>(20000 + 7000 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        Bench after(keeping(file));
        EXPECT_TRUE(after.warnings.empty()) << after.warnings.front();
        EXPECT_THAT(to_text(after.get("CTDetector.CTD_Function")),
                    testing::AnyOf("Balance", "Cross-talk"));
    }
}

// The RMS gain of a curve in dB for white noise over 20 Hz to 20 kHz.
double white_noise_gain(double (*curve_db)(double)) {
    double power = 0.0;
    constexpr int kPoints = 19981;  // 1 Hz apart
    for (int i = 0; i < kPoints; ++i)
        power += std::pow(10.0, curve_db(20.0 + i) / 10.0);
    return std::sqrt(power / kPoints);
}

class Analyser : public testing::Test, public Bench {};

class ClosedForm : public testing::TestWithParam<CsvRow>, public Bench {};

// The readings closed_forms.csv names, in dB.
double closed_form(const std::string& name) {
    constexpr double kNoiseA = 30e-6, kNoiseB = 33e-6;
    static const std::map<std::string, double> forms{
        {"level_a_through_ccir468_2k", db(1.006) + ccir468_db(1000.0, 2000.0)},
        {"noise_a", db(kNoiseA)},
        {"noise_b", db(kNoiseB)},
        {"noise_a_a_weighted", db(kNoiseA * white_noise_gain(a_weighting_db))},
        {"noise_a_ccir468", db(kNoiseA * white_noise_gain([](double f) { return ccir468_db(f); }))},
        {"thdn_a", db(std::hypot(1.5e-5, kNoiseA / 1.006))},
        {"balance", db(1.006 / 0.994)},
        {"crosstalk_into_a", db(1e-5)},
        {"crosstalk_into_b", db(1.26e-5)}};
    return forms.at(name);
}

// The "sim" device: gains 1.006 and 0.994, 30 and 33 uV of noise over 20 Hz-20 kHz, distortion
// 1.5e-5 and 2e-5, cross-talk 1e-5 and 1.26e-5, a gain drift of +-0.2 %. The clean device at
// 1 kHz, in every level unit: its cross-talk and distortion add under 1e-4.
TEST_P(ClosedForm, DeviceReadsWhatItsModelPredicts) {
    const CsvRow& r = GetParam();
    const double expected = std::islower(static_cast<unsigned char>(r["expected"][0]))
                                ? closed_form(r["expected"])
                                : r.number("expected");
    std::string tolerance_text = r["tolerance"];
    const bool relative = tolerance_text.ends_with('%');
    if (relative)
        tolerance_text.pop_back();
    const double tolerance =
        std::stod(tolerance_text) * (relative ? std::abs(expected) / 100.0 : 1.0);
    if (!r["exact_v"].empty())
        analyser->set_generator(r.number("exact_v"), 1000.0);
    else
        open(on("sim"));
    function(r["function"].c_str());
    set("CTDetector.CTD_WeightingFilter", ("CTD_WEIGHTING_" + r["weighting"]).c_str());
    set("CTDetector.CTD_Response", ("CTD_RESPONSE_" + r["response"]).c_str());
    if (r["unit"].starts_with("RELATIVE"))
        set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_GEN");
    if (r["function"] != "Frequency")
        set("CTDetector.CTD_Unit", ("UNIT_" + r["unit"]).c_str());
    EXPECT_NEAR(reading(r["channel"].c_str()), expected, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Sim, ClosedForm, testing::ValuesIn(csv_beside("closed_forms.csv")),
                         RowName());

// A change of settings replays the last second through the new chain. On a -60 dBFS tone over
// DC 0.25, that replay began with a 0.25 step into the DC blocker: quasi-peak read -31 dBFS and
// fell for seconds, RMS read 0.2 dB high. Started settled on the replay's mean, the first
// reading after the change is the settled one, within 0.01 dB.
TEST_F(Analyser, FirstReadingAfterASettingsChangeIsTheSettledOne) {
    const std::string file = write_sound_file(in_home("dc.wav"), 48000, 1.0, [](long long n) {
        return 0.25 + 1e-3 * sine(1000.0, 48000.0, n);
    });
    for (const CsvRow& row : csv_beside("settings_changes.csv")) {
        SCOPED_TRACE(row.name);
        open(on(file));
        set(row["member"], row["before"].c_str());
        reading("CTD_ChA", 3.0);
        set(row["member"], row["after"].c_str());
        const double first = reading("CTD_ChA", 0.2);
        const double settled = reading("CTD_ChA", 3.0);
        EXPECT_NEAR(settled, -60.0, 0.1);
        EXPECT_NEAR(first, settled, 0.01);
    }
}

// The status flags, each raised by a real cause in the signal or the input and cleared when the
// cause has left the reading's window; and the analyser's own warnings.
constexpr int kRate = 8000;

// A mono float WAV of `seconds` at 8 kHz, sample n being `sample(n)`.
AnalyserOptions wav(double seconds, std::function<double(int n)> sample) {
    return on(write_sound_file(in_home("signal.wav"), kRate, seconds,
                               [=](long long n) { return sample(static_cast<int>(n)); }));
}

double half_scale_sine(int n) {
    return 0.5 * sine(1000.0, kRate, n);
}

// A half-scale sine with signal_flags.csv's cause from 1 s: for half a second a full-scale square
// (every sample at full scale) or a sine whose peaks touch full scale, NaN for 10 ms, or one
// infinite sample.
double with_cause(const std::string& cause, int n) {
    const bool in_cause = n >= kRate && n < kRate * 3 / 2;
    if (cause == "square" && in_cause)
        return n / 4 % 2 ? 1.0 : -1.0;
    if (cause == "full_scale_sine" && in_cause)
        return 2.0 * half_scale_sine(n);
    if (cause == "nan" && n >= kRate && n < kRate + 80)
        return std::nan("");
    return cause == "infinite" && n == kRate + 100 ? -INFINITY : half_scale_sine(n);
}

class SignalFlag : public testing::TestWithParam<CsvRow> {};

TEST_P(SignalFlag, IsRaisedWhileItsCauseIsInTheWindowOnly) {
    const CsvRow& row = GetParam();
    Bench a(wav(8.0, [cause = row["cause"]](int n) { return with_cause(cause, n); }));
    EXPECT_EQ(a.status_at(0.9), 0) << "a clean window";
    EXPECT_EQ(a.status_at(row.number("raised_at_s")), code(row["flag"]));
    EXPECT_EQ(a.status_at(row.number("cleared_at_s")), 0) << "the cause has left the window";
}

INSTANTIATE_TEST_SUITE_P(File, SignalFlag, testing::ValuesIn(csv_beside("signal_flags.csv")),
                         RowName());

// A file that stops decoding while it plays is lost for good, in either domain, and says so
// once, when it happens.
TEST(FileThatStopsDecoding, IsLostAndSaysSoOnce) {
    Bench a(wav(10.0, half_scale_sine));
    EXPECT_EQ(a.status_at(1.0), 0);
    EXPECT_TRUE(a.warnings.empty());
    // Cut in place to its first second, as a copy that failed half-way would leave it.
    std::filesystem::resize_file(in_home("signal.wav"), 44 + 4 * kRate);
    EXPECT_EQ(a.status_at(5.0), code("STATUS_NO_INPUT"));
    EXPECT_EQ(a.get("DigitalInputs.DI_FrameRate"), Value(std::int64_t{0}));
    a.set("SignalAnalyzer.SA_Source", Value(instrument::kAnalogueDomain));
    EXPECT_EQ(a.status_at(6.0), code("STATUS_NO_INPUT"));
    EXPECT_EQ(a.status_at(12.0), code("STATUS_NO_INPUT")) << "even where it decoded before";
    EXPECT_THAT(a.warnings, testing::ElementsAre(testing::AllOf(
                                HasSubstr("stopped decoding at frame"), HasSubstr("lost"))));
}

// A live input that its real-time side reports samples lost from (an xrun): played by hand.
class CountingInput final : public source::LiveSource {
public:
    explicit CountingInput(const double& now_s) : now_s_(now_s) {}
    double rate_hz() const override { return 48000.0; }
    bool locked() const override { return true; }
    std::int64_t frames_now() override { return std::llround(now_s_ * 48000.0); }
    std::int64_t history_frames() const override { return 96000; }
    void read(int, std::int64_t, std::span<double> out) override {
        std::fill(out.begin(), out.end(), 0.1);
    }
    std::string describe() const override { return "a counting input"; }
    const source::LiveStatistics& statistics() const override { return statistics_; }
    source::LiveStatistics statistics_;

private:
    const double& now_s_;
};

TEST(Dropout, ShowsWhileTheLossIsInTheWindowAndAnUncalibratedInputSaysSo) {
    double now_s = 1.0;
    auto input = std::make_unique<CountingInput>(now_s);
    CountingInput& counting = *input;
    instrument::Measurement m(std::move(input), std::make_shared<source::Generator>(), 1,
                              [&now_s] { return now_s; });
    instrument::AnalyserSettings s =
        instrument::default_settings(instrument::SourceKind::SoundCard);
    const auto uncalibrated = static_cast<std::int32_t>(code("STATUS_UNCALIBRATED"));
    const auto status_at = [&](double t_s, instrument::Channel ch = instrument::Channel::A) {
        now_s = t_s;
        return m.status(s, ch);
    };
    EXPECT_EQ(status_at(1.0), uncalibrated);
    counting.statistics_.count_xrun();
    EXPECT_EQ(status_at(1.1), uncalibrated | code("STATUS_DROPOUT"));
    EXPECT_EQ(status_at(1.25), uncalibrated | code("STATUS_DROPOUT"));
    EXPECT_EQ(status_at(1.35), uncalibrated);
    // A calibration makes it calibrated; a digital input needs none.
    s.calibrated[0] = true;
    EXPECT_EQ(status_at(1.35), 0);
    EXPECT_EQ(status_at(1.35, instrument::Channel::B), uncalibrated);
    s.input_domain = instrument::kDigitalDomain;
    EXPECT_EQ(status_at(1.35, instrument::Channel::B), 0);
}

}  // namespace
}  // namespace vantel
