// SPDX-License-Identifier: MIT
// Our analyser's status flags, each raised by a real cause in the signal or the input and
// cleared when the cause has left the reading's window; and the analyser's own warnings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>

#include "automation/conversions.h"
#include "instrument/measurement.h"
#include "row_name.h"
#include "sources/live_source.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::read;
using test::write;
using testing_support::PrintTo;

constexpr int kRate = 8000;

// A mono float WAV of `seconds`, sample n being `sample(n)`.
std::string write_wav(const QTemporaryDir& dir, double seconds,
                      const std::function<double(int)>& sample) {
    const std::string path = dir.filePath(QStringLiteral("signal.wav")).toStdString();
    SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    std::vector<float> frames(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t n = 0; n < frames.size(); ++n)
        frames[n] = static_cast<float>(sample(static_cast<int>(n)));
    sf_writef_float(file, frames.data(), static_cast<sf_count_t>(frames.size()));
    sf_close(file);
    return path;
}

double half_scale_sine(int n) {
    return 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * n / kRate);
}

// Our analyser on a clock the test moves, telling its warnings to the test.
struct ClockedAnalyser {
    explicit ClockedAnalyser(std::string input, std::optional<source::DeviceModel> device = {}) {
        AnalyserOptions options;
        options.input = std::move(input);
        options.device = std::move(device);
        options.clock = [this] { return now_s; };
        options.warn = [this](const std::string& line) { warnings.push_back(line); };
        analyser.emplace(options);
        app = analyser->application();
    }
    // The status of a reading of channel A taken at `t_s`.
    std::int32_t status_at(double t_s) {
        now_s = t_s;
        to_double(read(*app, "CTDetector.CTD_ChA"));
        return to_int32(read(*app, "SignalAnalyzer.SA_Status"));
    }

    double now_s = 0.0;
    std::vector<std::string> warnings;
    std::optional<Analyser> analyser;
    ObjectRef app;
};

struct SignalFlagRow {
    const char* name;
    const char* flag;
    double (*sample)(int n);  // 8 s at 8 kHz, the cause lying between 1 and 1.5 s
    double raised_at_s, cleared_at_s;
};

class SignalFlag : public testing::TestWithParam<SignalFlagRow> {};

TEST_P(SignalFlag, IsRaisedWhileItsCauseIsInTheWindowOnly) {
    const SignalFlagRow& row = GetParam();
    QTemporaryDir dir;
    ClockedAnalyser a(write_wav(dir, 8.0, row.sample));
    EXPECT_EQ(a.status_at(0.9), 0) << "a clean window";
    EXPECT_EQ(a.status_at(row.raised_at_s), code(row.flag));
    EXPECT_EQ(a.status_at(row.cleared_at_s), 0) << "the cause has left the window";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(File, SignalFlag, testing::ValuesIn(std::vector<SignalFlagRow>{
    // A full-scale square: every sample at full scale.
    {"FullScaleSquare", "STATUS_OVERLOAD",
     [](int n) { return n >= kRate && n < kRate * 3 / 2 ? (n / 4 % 2 ? 1.0 : -1.0)
                                                         : half_scale_sine(n); },
     1.45, 1.75},
    // A sine whose peaks touch full scale is at full scale too.
    {"SineTouchingFullScale", "STATUS_OVERLOAD",
     [](int n) { return n >= kRate && n < kRate * 3 / 2 ? 2.0 * half_scale_sine(n)
                                                         : half_scale_sine(n); },
     1.6, 1.75},
    {"NotANumber", "STATUS_INVALID_SAMPLES",
     [](int n) { return n >= kRate && n < kRate + 80 ? std::nan("") : half_scale_sine(n); },
     1.1, 1.25},
    {"Infinite", "STATUS_INVALID_SAMPLES",
     [](int n) { return n == kRate + 100 ? -INFINITY : half_scale_sine(n); }, 1.05, 1.25},
}), testing_support::RowName());
// clang-format on

// Samples that are not numbers are counted once each, however often they are measured, and
// said once per run; clients read the count.
TEST(InvalidSamples, AreCountedOnceAndSaidOnce) {
    QTemporaryDir dir;
    // 80 NaN samples in every 8 s loop.
    ClockedAnalyser a(write_wav(dir, 8.0, [](int n) {
        return n >= kRate && n < kRate + 80 ? std::nan("") : half_scale_sine(n);
    }));
    EXPECT_EQ(read(*a.app, "SignalAnalyzer.SA_InvalidSamples"), Value(std::int64_t{0}));
    a.status_at(1.1);
    // A new function measures the last second again: nothing is counted twice.
    write(*a.app, "CTDetector.CTD_Function", Value("Frequency"));
    a.status_at(1.3);
    EXPECT_EQ(read(*a.app, "SignalAnalyzer.SA_InvalidSamples"), Value(std::int64_t{80}));
    a.status_at(9.5);  // the loop comes round to them again
    EXPECT_EQ(read(*a.app, "SignalAnalyzer.SA_InvalidSamples"), Value(std::int64_t{160}));
    ASSERT_EQ(a.warnings.size(), 1u);
    EXPECT_THAT(a.warnings[0], testing::HasSubstr("NaN or infinite"));
}

// A file that stops decoding while it plays is lost for good, in either domain, and says so
// once, when it happens.
TEST(FileThatStopsDecoding, IsLostAndSaysSoOnce) {
    QTemporaryDir dir;
    const std::string path = write_wav(dir, 10.0, half_scale_sine);
    ClockedAnalyser a(path);
    EXPECT_EQ(a.status_at(1.0), 0);
    EXPECT_TRUE(a.warnings.empty());
    // Cut in place to its first second, as a copy that failed half-way would leave it.
    std::filesystem::resize_file(path, 44 + 4 * kRate);
    EXPECT_EQ(a.status_at(5.0), code("STATUS_NO_INPUT"));
    EXPECT_EQ(read(*a.app, "DigitalInputs.DI_FrameRate"), Value(std::int64_t{0}));
    write(*a.app, "SignalAnalyzer.SA_Source", Value(instrument::kAnalogueDomain));
    EXPECT_EQ(a.status_at(6.0), code("STATUS_NO_INPUT"));
    EXPECT_EQ(a.status_at(12.0), code("STATUS_NO_INPUT")) << "even where it decoded before";
    ASSERT_EQ(a.warnings.size(), 1u);
    EXPECT_THAT(a.warnings[0], testing::HasSubstr("stopped decoding at frame"));
    EXPECT_THAT(a.warnings[0], testing::HasSubstr("lost"));
}

// A settings change that restarts the chain settles until the window holds only what came
// after it; a change of unit, which measures nothing anew, does not.
TEST(Settling, FollowsAChangeForOneWindow) {
    ClockedAnalyser a("sim", test::exact_device());
    EXPECT_EQ(a.status_at(0.1), code("STATUS_SETTLING")) << "switched on 0.1 s ago";
    EXPECT_EQ(a.status_at(1.0), 0);
    write(*a.app, "CTDetector.CTD_Unit", Value(code("UNIT_DBU")));
    EXPECT_EQ(a.status_at(1.0), 0);
    write(*a.app, "CTDetector.CTD_Function", Value("THD+N - relative"));
    EXPECT_EQ(a.status_at(1.0), code("STATUS_SETTLING"));
    EXPECT_EQ(a.status_at(1.19), code("STATUS_SETTLING"));
    EXPECT_EQ(a.status_at(1.2), 0);
    // An unlocked digital input is lost; when it locks again, the window refills.
    write(*a.app, "SignalAnalyzer.SA_Source", Value(instrument::kDigitalDomain));
    write(*a.app, "Generator.GEN_Level", Value(0.5));  // below the 1 V digital full scale
    write(*a.app, "DigitalInputs.DI_Source", Value(code("DI_SOURCE_BNC")));
    EXPECT_EQ(a.status_at(2.0), code("STATUS_NO_INPUT"));
    write(*a.app, "DigitalInputs.DI_Source", Value(code("DI_SOURCE_XLR")));
    EXPECT_EQ(a.status_at(2.2), code("STATUS_SETTLING"));
    EXPECT_EQ(a.status_at(2.4), 0);
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
    EXPECT_EQ(m.status(s, instrument::Channel::A), uncalibrated);
    now_s = 1.1;
    counting.statistics_.count_xrun();
    EXPECT_EQ(m.status(s, instrument::Channel::A), uncalibrated | code("STATUS_DROPOUT"));
    now_s = 1.25;
    EXPECT_EQ(m.status(s, instrument::Channel::A), uncalibrated | code("STATUS_DROPOUT"));
    now_s = 1.35;
    EXPECT_EQ(m.status(s, instrument::Channel::A), uncalibrated);
    // A calibration makes it calibrated; a digital input needs none.
    s.calibrated[0] = true;
    EXPECT_EQ(m.status(s, instrument::Channel::A), 0);
    EXPECT_EQ(m.status(s, instrument::Channel::B), uncalibrated);
    s.input_domain = instrument::kDigitalDomain;
    EXPECT_EQ(m.status(s, instrument::Channel::B), 0);
}

}  // namespace
}  // namespace vantel
