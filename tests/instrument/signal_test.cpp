// SPDX-License-Identifier: MIT
// Our analyser measuring sampled signals, through its automation members, against the
// signal's arithmetic (gains, weighting curves, noise through a filter); and its status flags,
// each raised by a real cause in the signal or the input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "instrument/measurement.h"
#include "row_name.h"
#include "sound_file.h"
#include "sources/live_source.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::read;
using test::write;
using testing_support::in_home;
using testing_support::PrintTo;
using testing_support::sine;
using testing_support::write_sound_file;

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// The curves in closed form, 1 at 1 kHz: IEC 61672-1 Annex E, and BS.468-4's network.
double a_weighting(double f) {
    auto raw = [](double x) {
        const double x2 = x * x;
        constexpr double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
        return f4 * f4 * x2 * x2 /
               ((x2 + f1 * f1) * std::sqrt((x2 + f2 * f2) * (x2 + f3 * f3)) * (x2 + f4 * f4));
    };
    return raw(f) / raw(1000.0);
}

double ccir468(double f) {
    auto raw = [](double x) {
        const double h1 = -4.737338981378384e-24 * std::pow(x, 6) +
                          2.043828333606125e-15 * std::pow(x, 4) - 1.363894795463638e-7 * x * x +
                          1.0;
        const double h2 = 1.306612257412824e-19 * std::pow(x, 5) -
                          2.118150887518656e-11 * std::pow(x, 3) + 5.559488023498642e-4 * x;
        return 1.246332637532143e-4 * x / std::hypot(h1, h2);
    };
    return raw(f) / raw(1000.0);
}

// The RMS gain of a curve for white noise over 20 Hz to 20 kHz.
template <typename Curve>
double white_noise_gain(Curve curve) {
    double power = 0.0;
    constexpr int kPoints = 19981;  // 1 Hz apart
    for (int i = 0; i < kPoints; ++i)
        power += curve(20.0 + i) * curve(20.0 + i);
    return std::sqrt(power / kPoints);
}

// An analyser on a clock the test moves, measuring `device`.
class Analyser : public testing::Test {
protected:
    void open(std::optional<source::DeviceModel> device = test::exact_device(),
              std::uint64_t seed = 1, std::string input = "sim") {
        now_s = 0.0;
        AnalyserOptions options;
        options.seed = seed;
        options.clock = [this] { return now_s; };
        options.device = std::move(device);
        options.input = std::move(input);
        analyser = std::make_unique<vantel::Analyser>(options);
        app = analyser->application();
        set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_NONE");
    }
    void SetUp() override { open(); }
    void set(const char* path, const char* constant) { write(*app, path, Value(code(constant))); }
    void function(const char* name) { write(*app, "CTDetector.CTD_Function", Value(name)); }
    // A reading once the input has run for `settle_s` (a change takes a window to show).
    double reading(const char* channel = "CTD_ChA", double settle_s = 1.0) {
        now_s += settle_s;
        const double r = to_double(get_member(*app, "CTDetector", channel));
        EXPECT_TRUE(std::isfinite(r)) << channel;
        return r;
    }

    double now_s = 0.0;  // the analyser's clock
    std::unique_ptr<vantel::Analyser> analyser;
    ObjectRef app;
};

struct ClosedFormRow {
    const char* name;
    const char* function;
    const char* weighting;  // CTD_WEIGHTING_...
    const char* response;   // CTD_RESPONSE_...
    const char* unit;       // UNIT_...
    const char* channel;
    double expected;
    double tolerance;    // in the unit
    double exact_v = 0;  // else the clean device, the generator at this level
};

class ClosedForm : public Analyser, public testing::WithParamInterface<ClosedFormRow> {};

// The "sim" device: gains 1.006 and 0.994, 30 and 33 uV of noise over 20 Hz-20 kHz, distortion
// 1.5e-5 and 2e-5, cross-talk 1e-5 and 1.26e-5, a gain drift of +-0.2 %. The clean device at
// 1 kHz, in every level unit: its cross-talk and distortion add under 1e-4.
TEST_P(ClosedForm, DeviceReadsWhatItsModelPredicts) {
    const ClosedFormRow& r = GetParam();
    if (r.exact_v > 0)
        analyser->set_generator(r.exact_v, 1000.0);
    else
        open(std::nullopt);
    function(r.function);
    set("CTDetector.CTD_WeightingFilter", ("CTD_WEIGHTING_" + std::string(r.weighting)).c_str());
    set("CTDetector.CTD_Response", ("CTD_RESPONSE_" + std::string(r.response)).c_str());
    if (std::string_view(r.unit).starts_with("RELATIVE"))
        set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_GEN");
    if (std::string_view(r.function) != "Frequency")
        set("CTDetector.CTD_Unit", ("UNIT_" + std::string(r.unit)).c_str());
    EXPECT_NEAR(reading(r.channel), r.expected, r.tolerance);
}

const double kNoiseA = 30e-6, kNoiseB = 33e-6;
// Tone levels: the drift moves them by up to 0.2 %; the detectors agree within 0.05 %.
constexpr double kDrift = 0.0025;
// The noise is given over 20 Hz-20 kHz; the AES17 filter's skirt up to 24 kHz passes up to
// +0.8 dB more of white noise, and a 200 ms window wanders by 0.35 %.
constexpr double kNoiseDb = 0.9;
// A -100 dB leak in a 200 ms window sits 23 dB above the noise in its band: +-0.7 dB.
constexpr double kCrosstalkDb = 1.0;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sim, ClosedForm, testing::ValuesIn(std::vector<ClosedFormRow>{
    {"LevelA", "Amplitude", "DEFAULT", "RMS", "V", "CTD_ChA", 1.006, 1.006 * kDrift},
    {"LevelB", "Amplitude", "NONE", "RMS", "V", "CTD_ChB", 0.994, 0.994 * kDrift},
    {"LevelPeak", "Amplitude", "NONE", "PEAK", "V", "CTD_ChA", 1.006, 1.006 * kDrift},
    {"LevelPeakSample", "Amplitude", "NONE", "PEAKSAMPLE", "V", "CTD_ChA", 1.006, 1.006 * kDrift},
    {"LevelQuasiPeak", "Amplitude", "NONE", "QPEAK", "V", "CTD_ChA", 1.006, 1.006 * kDrift},
    // CCIR 2k reads 1 kHz at -5.6 dB; dBV of 1.006 V is +0.052.
    {"LevelCcir2k", "Amplitude", "CCIR468_2K", "RMS", "DBV", "CTD_ChA",
     db(1.006 * ccir468(1000.0) / ccir468(2000.0)), 0.05},
    {"NoiseUnweighted", "Noise (unweighted)", "NONE", "RMS", "DBV", "CTD_ChA", db(kNoiseA),
     kNoiseDb},
    {"NoiseUnweightedB", "Noise (unweighted)", "NONE", "RMS", "DBV", "CTD_ChB", db(kNoiseB),
     kNoiseDb},
    {"NoiseA", "Noise (A-weighted)", "AWEIGHTING", "RMS", "DBV", "CTD_ChA",
     db(kNoiseA * white_noise_gain(a_weighting)), kNoiseDb},
    {"NoiseCcir", "Noise (CCIR-468)", "CCIR468_1K", "RMS", "DBV", "CTD_ChA",
     db(kNoiseA * white_noise_gain(ccir468)), kNoiseDb},
    // Unweighted: distortion and the noise floor against the 1.006 V tone.
    {"ThdnA", "THD+N - relative", "NONE", "RMS", "RELATIVE_DB", "CTD_ChA",
     db(std::hypot(1.5e-5, kNoiseA / 1.006)), kNoiseDb},
    {"Balance", "Balance", "NONE", "RMS", "RELATIVE_DB", "CTD_ChA", db(1.006 / 0.994), 0.04},
    {"CrosstalkIntoA", "Cross-talk", "NONE", "RMS", "RELATIVE_DB", "CTD_ChA", db(1e-5),
     kCrosstalkDb},
    {"CrosstalkIntoB", "Cross-talk", "NONE", "RMS", "RELATIVE_DB", "CTD_ChB", db(1.26e-5),
     kCrosstalkDb},
    // Within 10 ppm.
    {"Frequency", "Frequency", "NONE", "RMS", "FREQ_HZ", "CTD_ChA", 1000.0, 0.01},
    {"UnitVolt", "Amplitude", "NONE", "RMS", "V", "CTD_ChA", 1.0, 1e-4, 1.0},
    {"UnitVoltPeak", "Amplitude", "NONE", "RMS", "VP", "CTD_ChA", 1.41421356, 1.4e-4, 1.0},
    {"UnitVoltPeakToPeak", "Amplitude", "NONE", "RMS", "VPP", "CTD_ChA", 2.82842712, 2.8e-4, 1.0},
    {"UnitDbuOfOneVolt", "Amplitude", "NONE", "RMS", "DBU", "CTD_ChA", 2.21848750, 1e-3, 1.0},
    {"UnitDbvOfTenthVolt", "Amplitude", "NONE", "RMS", "DBV", "CTD_ChA", -20.0, 1e-3, 0.1},
    {"UnitDbmOneVoltInto600Ohm", "Amplitude", "NONE", "RMS", "DBM", "CTD_ChA", 2.21848750, 1e-3, 1.0},
    {"UnitWattOneVoltInto8Ohm", "Amplitude", "NONE", "RMS", "W", "CTD_ChA", 0.125, 1.25e-5, 1.0},
    {"UnitDbfsAgainstTenVolts", "Amplitude", "NONE", "RMS", "DBFS", "CTD_ChA", -20.0, 1e-3, 1.0},
    {"UnitPercentOfFullScale", "Amplitude", "NONE", "RMS", "FS", "CTD_ChA", 25.0, 2.5e-3, 2.5},
}), testing_support::RowName());
// clang-format on

TEST_F(Analyser, DigitalInputReadsAgainstItsFullScaleAndIsSilentWhenUnlocked) {
    analyser->set_generator(0.5, 1000.0);
    write(*app, "SignalAnalyzer.SA_Source", Value(vantel::instrument::kDigitalDomain));
    set("DigitalInputs.DI_Source", "DI_SOURCE_XLR");
    set("CTDetector.CTD_Unit", "UNIT_DBFS");
    EXPECT_NEAR(reading(), db(0.5), 1e-3);            // AES17: a full-scale sine is 0 dBFS
    set("DigitalInputs.DI_Source", "DI_SOURCE_BNC");  // nothing connected
    EXPECT_EQ(reading(), -240.0);                     // silence is the floor, a number
}

TEST_F(Analyser, RelativeReadingsUseTheReferenceOfTheRelativity) {
    source::DeviceModel device = test::exact_device();
    device.channels[1].gain = 0.5;
    open(device);
    analyser->set_generator(2.0, 1000.0);  // the reference is the generator's level, not 1 V
    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_GEN");
    EXPECT_NEAR(reading("CTD_ChB"), db(0.5), 1e-3);
    set("CTDetector.CTD_Unit", "UNIT_RELATIVE_PERCENT");
    EXPECT_NEAR(reading("CTD_ChB"), 50.0, 5e-3);

    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_CHANNEL");
    EXPECT_NEAR(reading("CTD_ChA"), 200.0, 2e-2);
    EXPECT_NEAR(reading("CTD_ChB"), 50.0, 5e-3);

    now_s += 1.0;
    set("CTDetector.CTD_Relativity", "CTD_RELATIVITY_SELF");  // the reference is taken now
    analyser->set_generator(4.0, 1000.0);
    EXPECT_NEAR(reading("CTD_ChA"), 200.0, 2e-2);
    EXPECT_NEAR(reading("CTD_ChB"), 200.0, 2e-2);
    function("Amplitude");  // a function chosen anew takes a new reference
    EXPECT_NEAR(reading("CTD_ChA"), 100.0, 1e-2);
}

TEST_F(Analyser, WeightingFollowsTheDetectorOrTheDefaultFilter) {
    analyser->set_generator(1.0, 100.0);
    set("CTDetector.CTD_Unit", "UNIT_DBV");
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_AWEIGHTING");
    EXPECT_NEAR(reading(), db(a_weighting(100.0)), 0.1);
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_DEFAULT");  // the default is none
    EXPECT_NEAR(reading(), 0.0, 0.01);
    analyser->set_default_weighting(static_cast<int>(code("CTD_WEIGHTING_AWEIGHTING")));
    EXPECT_NEAR(reading(), db(a_weighting(100.0)), 0.1);
}

TEST_F(Analyser, GeneratorOutputInputSeesTheGeneratorWhateverTheSource) {
    source::DeviceModel device = test::exact_device();
    device.channels = {source::ChannelModel{0.5}, source::ChannelModel{0.25}};
    open(device);
    EXPECT_NEAR(reading("CTD_ChA"), 0.5, 1e-4);
    EXPECT_NEAR(reading("CTD_ChB"), 0.25, 1e-4);
    set("AnalogueInputs.AI_Source", "AI_SOURCE_GENOUTPUT");
    EXPECT_NEAR(reading("CTD_ChA"), 1.0, 1e-4);
    EXPECT_NEAR(reading("CTD_ChB"), 1.0, 1e-4);
}

TEST_F(Analyser, GeneratorTakesItsSettings) {
    write(*app, "Generator.GEN_Frequency", Value(997.0));
    write(*app, "Generator.GEN_Level", Value(0.25));
    EXPECT_NEAR(reading(), 0.25, 1e-4);
    // THD+N in %, and in a level unit the residual's volts: the exact device's 1.5e-5.
    function("THD+N - relative");
    EXPECT_NEAR(reading(), 1.5e-3, 1.5e-4);
    set("CTDetector.CTD_Unit", "UNIT_V");
    EXPECT_NEAR(reading(), 0.25 * 1.5e-5, 0.25 * 1.5e-6);
    function("Frequency");
    EXPECT_NEAR(reading(), 997.0, 997.0 * 1e-5);
    EXPECT_EQ(test::read(*app, "Generator.GEN_Frequency"), Value(997.0));
    EXPECT_EQ(test::read(*app, "Generator.GEN_Level"), Value(0.25));
    EXPECT_EQ(test::read(*app, "Generator.GEN_On"), Value(AutoBool::True));

    write(*app, "Generator.GEN_On", Value(AutoBool::False));
    EXPECT_EQ(reading(), 0.0);  // no tone, no fundamental
    function("Amplitude");
    EXPECT_LT(reading(), 1e-9);
    set("CTDetector.CTD_Unit", "UNIT_DBV");
    EXPECT_LT(reading(), -180.0);
}

// A sound file is digital full-scale units by nature: a fresh analyser on one starts in the
// digital domain, reading dBFS, at the file's rate; a mono file loops and feeds both channels.
TEST_F(Analyser, FileStartsDigitalInDbfsAtItsRateOnBothChannels) {
    constexpr int kFileRate = 44100;
    const std::string path = write_sound_file(in_home("tone.wav"), kFileRate, 1.0, [](long long n) {
        return 0.5 * sine(441.0, kFileRate, n);
    });
    AnalyserOptions options;
    options.clock = [this] { return now_s; };
    options.input = path;
    analyser = std::make_unique<vantel::Analyser>(options);
    app = analyser->application();  // as it opens: no setting of the test's
    EXPECT_EQ(test::read(*app, "SignalAnalyzer.SA_Source"), Value(std::int64_t{1}));
    EXPECT_EQ(test::read(*app, "CTDetector.CTD_Unit"), Value(code("UNIT_DBFS")));
    EXPECT_EQ(test::read(*app, "DigitalInputs.DI_FrameRate"), Value(std::int64_t{kFileRate}));
    EXPECT_NEAR(reading("CTD_ChA", 2.5), db(0.5), 0.01);
    EXPECT_NEAR(reading("CTD_ChB", 0.0), db(0.5), 0.01);
}

struct DxdRow {
    const char* name;
    int rate_hz;
    const char* response;  // CTD_RESPONSE_...
};

class DxdFile : public Analyser, public testing::WithParamInterface<DxdRow> {};

// The DXD rates measure with A-weighting under every detector: a 1 kHz tone at half full scale
// reads -6.02 dBFS (A is 0 dB there). A-weighting's design threw at these rates, and the first
// reading ended the analyser.
TEST_P(DxdFile, MeasuresWithAWeightingUnderEveryDetector) {
    const DxdRow& row = GetParam();
    open(std::nullopt, 1, write_sound_file(in_home("dxd.wav"), row.rate_hz, 0.5, [&](long long n) {
             return 0.5 * sine(1000.0, row.rate_hz, n);
         }));
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_AWEIGHTING");  // dBFS, as files start
    set("CTDetector.CTD_Response", row.response);
    EXPECT_NEAR(reading("CTD_ChA", 3.0), db(0.5), 0.05);
}

INSTANTIATE_TEST_SUITE_P(Rates, DxdFile,
                         testing::ValuesIn(std::vector<DxdRow>{
                             {"Rms384k", 384000, "CTD_RESPONSE_RMS"},
                             {"Peak384k", 384000, "CTD_RESPONSE_PEAK"},
                             {"PeakSample384k", 384000, "CTD_RESPONSE_PEAKSAMPLE"},
                             {"QuasiPeak384k", 384000, "CTD_RESPONSE_QPEAK"},
                         }),
                         testing_support::RowName());

struct ChangeRow {
    const char* name;
    const char* before[2];  // a setting's path and constant, held for 3 s before the change
    const char* after[2];   // the change; then the first reading is the settled one
};

class SettingsChange : public Analyser, public testing::WithParamInterface<ChangeRow> {};

// A change of settings replays the last second through the new chain. On a -60 dBFS tone over
// DC 0.25, that replay began with a 0.25 step into the DC blocker: quasi-peak read -31 dBFS and
// fell for seconds, RMS read 0.2 dB high. Started settled on the replay's mean, the first
// reading after the change is the settled one, within 0.01 dB.
TEST_P(SettingsChange, FirstReadingIsTheSettledOne) {
    const ChangeRow& row = GetParam();
    open(std::nullopt, 1, write_sound_file(in_home("dc.wav"), 48000, 1.0, [](long long n) {
             return 0.25 + 1e-3 * sine(1000.0, 48000.0, n);
         }));  // in dBFS, as files start
    set(row.before[0], row.before[1]);
    reading("CTD_ChA", 3.0);
    set(row.after[0], row.after[1]);
    const double first = reading("CTD_ChA", 0.2);
    const double settled = reading("CTD_ChA", 3.0);
    EXPECT_NEAR(settled, -60.0, 0.1);
    EXPECT_NEAR(first, settled, 0.01);
}

INSTANTIATE_TEST_SUITE_P(DcUnderATone, SettingsChange,
                         testing::ValuesIn(std::vector<ChangeRow>{
                             {"RmsAfterAWeightingChange",
                              {"CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_AWEIGHTING"},
                              {"CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_NONE"}},
                             {"QuasiPeakAfterAResponseChange",
                              {"CTDetector.CTD_Response", "CTD_RESPONSE_RMS"},
                              {"CTDetector.CTD_Response", "CTD_RESPONSE_QPEAK"}},
                             {"RmsAfterAResponseChange",
                              {"CTDetector.CTD_Response", "CTD_RESPONSE_QPEAK"},
                              {"CTDetector.CTD_Response", "CTD_RESPONSE_RMS"}},
                         }),
                         testing_support::RowName());

// The status flags, each raised by a real cause in the signal or the input and cleared when the
// cause has left the reading's window; and the analyser's own warnings.
constexpr int kRate = 8000;

// A mono float WAV of `seconds` at 8 kHz, sample n being `sample(n)`.
std::string write_wav(double seconds, double (*sample)(int n)) {
    return testing_support::write_sound_file(
        testing_support::in_home("signal.wav"), kRate, seconds,
        [=](long long n) { return sample(static_cast<int>(n)); });
}

double half_scale_sine(int n) {
    return 0.5 * testing_support::sine(1000.0, kRate, n);
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
    std::optional<vantel::Analyser> analyser;
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
    ClockedAnalyser a(write_wav(8.0, row.sample));
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
    // 80 NaN samples in every 8 s loop.
    ClockedAnalyser a(write_wav(8.0, [](int n) {
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
    const std::string path = write_wav(10.0, half_scale_sine);
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
