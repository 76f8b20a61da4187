// SPDX-License-Identifier: MIT
// Our analyser measuring sampled signals, through its automation members, against the
// signal's arithmetic (gains, weighting curves, noise through a filter).
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "instrument/settings.h"
#include "row_name.h"
#include "sources/sample_source.h"
#include "support.h"

namespace vantel {
namespace {

using test::code;
using test::write;
using testing_support::PrintTo;

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

// A mono sound file written here, played in real time: it loops and feeds both channels.
TEST_F(Analyser, FileInputReadsTheFilesLevelAndReportsItsRate) {
    const std::string path = std::filesystem::temp_directory_path() /
                             ("vantel_signal_test_" + std::to_string(::getpid()) + ".wav");
    constexpr int kRate = 44100;
    SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> tone(kRate);  // one second of 441 Hz at half full scale
    for (int i = 0; i < kRate; ++i)
        tone[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 441.0 * i / kRate));
    sf_writef_float(file, tone.data(), kRate);
    sf_close(file);

    open(std::nullopt, 1, path);
    write(*app, "SignalAnalyzer.SA_Source", Value(vantel::instrument::kDigitalDomain));
    set("CTDetector.CTD_Unit", "UNIT_DBFS");
    EXPECT_EQ(test::read(*app, "DigitalInputs.DI_FrameRate"), Value(std::int64_t{kRate}));
    EXPECT_NEAR(reading("CTD_ChA", 2.5), db(0.5), 0.01);
    EXPECT_NEAR(reading("CTD_ChB", 0.0), db(0.5), 0.01);
    std::filesystem::remove(path);
}

// A mono float WAV of `seconds` of `signal(n)` at `rate_hz`, in the temporary folder; removed
// with the object.
class SoundFile {
public:
    SoundFile(const std::string& name, int rate_hz, double seconds,
              const std::function<double(long long)>& signal)
        : path_(std::filesystem::temp_directory_path() /
                ("vantel_signal_test_" + std::to_string(::getpid()) + "_" + name + ".wav")) {
        SF_INFO info{0, rate_hz, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
        SNDFILE* file = sf_open(path_.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<float> samples(static_cast<std::size_t>(std::lround(seconds * rate_hz)));
        for (std::size_t n = 0; n < samples.size(); ++n)
            samples[n] = static_cast<float>(signal(static_cast<long long>(n)));
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(file);
    }
    ~SoundFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

double sine(double frequency_hz, double rate_hz, long long n) {
    return std::sin(2.0 * M_PI * std::fmod(frequency_hz * static_cast<double>(n), rate_hz) /
                    rate_hz);
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
    const SoundFile file(row.name, row.rate_hz, 0.5,
                         [&](long long n) { return 0.5 * sine(1000.0, row.rate_hz, n); });
    open(std::nullopt, 1, file.path());
    write(*app, "SignalAnalyzer.SA_Source", Value(vantel::instrument::kDigitalDomain));
    set("CTDetector.CTD_Unit", "UNIT_DBFS");
    set("CTDetector.CTD_WeightingFilter", "CTD_WEIGHTING_AWEIGHTING");
    set("CTDetector.CTD_Response", row.response);
    EXPECT_NEAR(reading("CTD_ChA", 3.0), db(0.5), 0.05);
}

INSTANTIATE_TEST_SUITE_P(Rates, DxdFile,
                         testing::ValuesIn(std::vector<DxdRow>{
                             {"Rms352k8", 352800, "CTD_RESPONSE_RMS"},
                             {"Peak352k8", 352800, "CTD_RESPONSE_PEAK"},
                             {"PeakSample352k8", 352800, "CTD_RESPONSE_PEAKSAMPLE"},
                             {"QuasiPeak352k8", 352800, "CTD_RESPONSE_QPEAK"},
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
    const SoundFile file(row.name, 48000, 1.0,
                         [](long long n) { return 0.25 + 1e-3 * sine(1000.0, 48000.0, n); });
    open(std::nullopt, 1, file.path());
    write(*app, "SignalAnalyzer.SA_Source", Value(vantel::instrument::kDigitalDomain));
    set("CTDetector.CTD_Unit", "UNIT_DBFS");
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

// A fresh analyser reads as a bench instrument does: Amplitude unweighted in volts, THD+N
// unweighted in per cent. A-weighted, the 100 Hz tone would read 0.110 V and the 0.1 % of
// harmonics at 2 and 3 kHz 0.115 %.
TEST(FreshDefaults, AmplitudeReadsVoltsUnweightedAndThdnPerCent) {
    double now_s = 0.0;
    source::DeviceModel device = source::analyser_loopback();
    for (source::ChannelModel& c : device.channels)
        c.thd = 1e-3;
    AnalyserOptions options;
    options.clock = [&now_s] { return now_s; };
    options.device = device;
    vantel::Analyser analyser(options);
    ObjectRef app = analyser.application();
    write(*app, "Generator.GEN_Frequency", Value(100.0));
    now_s = 1.0;
    EXPECT_NEAR(to_double(test::read(*app, "CTDetector.CTD_ChA")), 1.0, 5e-4);
    write(*app, "Generator.GEN_Frequency", Value(1000.0));
    write(*app, "CTDetector.CTD_Function", Value("THD+N - relative"));
    EXPECT_EQ(test::read(*app, "CTDetector.CTD_Unit"), Value(code("UNIT_RELATIVE_PERCENT")));
    now_s = 2.0;
    EXPECT_NEAR(to_double(test::read(*app, "CTDetector.CTD_ChA")), 0.1, 0.1 * 5e-3);
}

// A sound file starts in the digital domain, reading dBFS; a full-scale sine reads 0 dBFS.
TEST_F(Analyser, FileStartsDigitalInDbfs) {
    const std::string path = std::filesystem::temp_directory_path() /
                             ("vantel_fresh_file_" + std::to_string(::getpid()) + ".wav");
    constexpr int kRate = 48000;
    SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> tone(kRate);
    for (int i = 0; i < kRate; ++i)
        tone[i] = static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * i / kRate));
    sf_writef_float(file, tone.data(), kRate);
    sf_close(file);
    AnalyserOptions options;
    options.clock = [this] { return now_s; };
    options.input = path;
    vantel::Analyser fresh(options);
    ObjectRef file_app = fresh.application();
    EXPECT_EQ(test::read(*file_app, "SignalAnalyzer.SA_Source"), Value(std::int64_t{1}));
    EXPECT_EQ(test::read(*file_app, "CTDetector.CTD_Unit"), Value(code("UNIT_DBFS")));
    now_s = 1.5;
    EXPECT_NEAR(to_double(test::read(*file_app, "CTDetector.CTD_ChA")), 0.0, 0.01);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace vantel
