// SPDX-License-Identifier: MIT
// The sources measured from their samples, with just enough measuring written apart from their
// own oscillator and noise (one DFT bin, the RMS): the generator's settings and sine, a live
// input's history ring, the simulated device and the loopback, and sound files written with
// libsndfile, which come back in full-scale units, looped, or are refused by name and reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "csv_table.h"
#include "row_name.h"
#include "sound_file.h"
#include "sources/file_name.h"
#include "sources/file_source.h"
#include "sources/frame_ring.h"
#include "sources/generator.h"
#include "sources/open_source.h"

namespace vantel::source {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using testing_support::PrintTo;

// A clock the test moves; the sources it is given to share it.
struct FakeClock {
    std::shared_ptr<double> now_s = std::make_shared<double>(0.0);
    MonotonicClock clock() const {
        return [now = now_s] { return *now; };
    }
    void set(double seconds) { *now_s = seconds; }
};

// The peak amplitude of the component at `frequency_hz`, which should fall on a bin.
double tone_amplitude(std::span<const double> x, double rate_hz, double frequency_hz) {
    std::complex<double> sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += x[i] *
               std::polar(1.0, -2.0 * std::numbers::pi *
                                   std::fmod(frequency_hz * static_cast<double>(i) / rate_hz, 1.0));
    return 2.0 * std::abs(sum) / static_cast<double>(x.size());
}

double rms(std::span<const double> x) {
    double sum = 0.0;
    for (double s : x)
        sum += s * s;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

class GeneratorSetting : public ::testing::TestWithParam<CsvRow> {};

TEST_P(GeneratorSetting, IsTakenOrRefusedSayingWhyKeepingTheOld) {
    const CsvRow& row = GetParam();
    const std::string& setting = row["setting"];
    const double value = row.number("value");
    Generator g;
    g.set_frequency_hz(1234.5, 48000.0);
    g.set_level_v_rms(2.5);
    const std::string refused = thrown<std::invalid_argument>([&] {
        if (setting == "frequency")
            g.set_frequency_hz(value);
        else if (setting == "frequency_at_rate")
            g.set_frequency_hz(value, row.number("rate_hz"));
        else
            g.set_level_v_rms(value);
    });
    if (row["reason"].empty()) {
        EXPECT_EQ(refused, "");
        EXPECT_EQ(setting == "level" ? g.level_v_rms() : g.frequency_hz(), value);
        return;
    }
    EXPECT_THAT(refused, ::testing::HasSubstr(row["reason"]));
    EXPECT_EQ(g.frequency_hz(), 1234.5);
    EXPECT_EQ(g.level_v_rms(), 2.5);
}

INSTANTIATE_TEST_SUITE_P(Generator, GeneratorSetting,
                         ::testing::ValuesIn(csv_beside("generator_settings.csv")), RowName{});

// Phase zero at frame 0 whatever window is asked for.
TEST(Generator, RendersTheSineOfTheAbsoluteFrame) {
    Generator g;
    g.set_frequency_hz(997.0);
    g.set_level_v_rms(3.0);
    for (const std::int64_t first : {0L, 12345L, 48000L * 86400 * 7}) {
        std::vector<double> v(2000);
        g.render_v(first, 48000.0, v);
        double worst = 0.0;
        for (std::size_t i = 0; i < v.size(); ++i) {
            const double expected_v =
                3.0 * std::numbers::sqrt2 *
                testing_support::sine(997.0, 48000.0, first + static_cast<long long>(i));
            worst = std::max(worst, std::abs(v[i] - expected_v));
        }
        // The step is a whole number of 2^-64 turns, so by frame n the phase may be off by
        // n * 2^-64 turns (1.6e-9 after a week); the sine itself is good to 1e-15.
        const double phase_error_rad =
            2 * std::numbers::pi * static_cast<double>(first + 2000) * 0x1.0p-64;
        EXPECT_LT(worst, 3.0 * std::numbers::sqrt2 * phase_error_rad + 1e-13) << "from " << first;
    }
    EXPECT_THROW(g.set_output_on(2, true), std::out_of_range);
    g.set_on(false);
    std::vector<double> off(10, 1.0);
    g.render_v(0, 48000.0, off);
    EXPECT_EQ(off, std::vector<double>(10, 0.0));
}

// In the history ring, frame f carries 1 + f mod 2^20 on A and its negative on B: exact in a
// float and never silence.
float mark(std::int64_t frame) {
    return static_cast<float>(1 + (frame & 0xfffff));
}

void write_marks(FrameRing& ring, std::int64_t first, std::size_t frames) {
    std::vector<float> a(frames), b(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        a[i] = mark(first + static_cast<std::int64_t>(i));
        b[i] = -a[i];
    }
    ring.write(a, b);
}

TEST(FrameRing, ReadsWhatItHoldsAndSilenceBeyond) {
    FrameRing ring(1000);
    ASSERT_EQ(ring.capacity_frames(), 1024);
    for (int period = 0; period < 5; ++period)
        write_marks(ring, period * 256, 256);  // 1280 frames: the first 256 are gone
    EXPECT_EQ(ring.frames_written(), 1280);
    std::vector<double> out(1100);
    ring.read(1, 200, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t frame = 200 + static_cast<std::int64_t>(i);
        ASSERT_EQ(out[i], frame < 256 || frame >= 1280 ? 0.0 : -mark(frame)) << "frame " << frame;
    }
}

TEST(FrameRing, ReaderNeverSeesAnotherFramesSampleWhileTheWriterRuns) {
    FrameRing ring(4096);
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        for (std::int64_t frame = 0; !stop.load(); frame += 64)
            write_marks(ring, frame, 64);
    });
    // A loaded machine may run the writer late or in bursts: read once it has filled the ring,
    // until samples have been seen.
    while (ring.frames_written() < 4096)
        std::this_thread::yield();
    std::vector<double> out(4096);
    std::int64_t checked = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int read = 0; read < 2000 || (checked == 0 && std::chrono::steady_clock::now() < give_up);
         ++read) {
        // The oldest window it holds, where overwriting happens, and a newer one in turn.
        const std::int64_t first = ring.frames_written() - (read % 2 ? 4096 : 2048);
        ring.read(0, first, out);
        for (std::size_t i = 0; i < out.size(); ++i)
            if (out[i] != 0.0) {
                ASSERT_EQ(out[i], mark(first + static_cast<std::int64_t>(i)));
                ++checked;
            }
    }
    stop = true;
    writer.join();
    EXPECT_GT(checked, 0);
}

constexpr double kRateHz = 48000.0;
// A full-scale sine (amplitude 1.0) is 10 V RMS on the analogue inputs.
constexpr double kVoltsPerUnit = 10.0 * std::numbers::sqrt2;

class Generated : public ::testing::Test {
protected:
    std::unique_ptr<SampleSource> open(const char* source_name, std::uint64_t seed = 7) {
        auto s = open_source(source_name, generator, {seed, clock.clock(), 10.0});
        clock.set(*clock.now_s + 100.0);  // 100 s produced
        return s;
    }
    static std::vector<double> volts(SampleSource& s, int ch, std::int64_t first, std::size_t n) {
        std::vector<double> v(n);
        s.read(ch, first, v);
        for (double& x : v)
            x *= kVoltsPerUnit;
        return v;
    }
    FakeClock clock;
    std::shared_ptr<Generator> generator = std::make_shared<Generator>();
};

// One channel of a generated source (a row of devices.csv), with the figures it must show.
class DeviceChannel : public Generated, public ::testing::WithParamInterface<CsvRow> {
protected:
    void SetUp() override { source = open(GetParam()["source"].c_str()); }
    std::vector<double> volts(int ch, std::size_t n) { return Generated::volts(*source, ch, 0, n); }
    double figure(const char* column) const { return GetParam().number(column); }
    // One DFT bin's amplitude over `n` frames of white noise errs by sigma * sqrt(2 / n).
    double bin_error_v(std::size_t n) const {
        return figure("noise_v_rms") * std::sqrt(24000.0 / 19980.0 * 2.0 / static_cast<double>(n));
    }
    const int channel = static_cast<int>(GetParam().integer("channel"));
    std::unique_ptr<SampleSource> source;
};

// Noise alone: white, its RMS over 20 Hz-20 kHz the whole RMS x sqrt(19980 / 24000), and normal
// to its tails, since peak detectors read noise by its crests.
TEST_P(DeviceChannel, NoiseIsWhiteAndNormalWithItsRmsInTheAudioBand) {
    generator->set_on(false);
    const std::vector<double> v = volts(channel, std::size_t{1} << 20);
    const double sigma = rms(v);
    // 2^20 draws: the RMS deviates by 0.07 %; noise not scaled for the band is 9 % off.
    EXPECT_NEAR(sigma * std::sqrt(19980.0 / 24000.0) / figure("noise_v_rms"), 1.0, 0.005);
    double beyond_3_5 = 0.0, largest = 0.0, lag_1 = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        beyond_3_5 += std::abs(v[i]) > 3.5 * sigma;
        largest = std::max(largest, std::abs(v[i]) / sigma);
        lag_1 += i > 0 ? v[i] * v[i - 1] : 0.0;
    }
    // P(|z| > 3.5) = 4.653e-4: 488 of 2^20 expected, deviation 22; allow five deviations.
    EXPECT_NEAR(beyond_3_5, 4.653e-4 * (1 << 20), 110.0);
    // Among 2^20 draws: none beyond 4 sigma has P = e^-66, one beyond 6.5 sigma P = 8e-5.
    EXPECT_GT(largest, 4.0);
    EXPECT_LT(largest, 6.5);
    // Independent neighbours correlate by about 1/sqrt(2^20) = 0.001; allow five times that.
    EXPECT_LT(std::abs(lag_1 / (sigma * sigma * static_cast<double>(v.size()))), 0.005);
}

TEST_P(DeviceChannel, ToneIsGainTimesLevelDriftsWithinItsBoundsAndHasItsHarmonics) {
    generator->set_output_on(1 - channel, false);  // no cross-talk into this channel
    generator->set_level_v_rms(2.5);
    // 60 windows of 0.1 s over the 30 s drift period: the drift averages out of their mean, and
    // their extremes catch its crest within 0.14 %.
    std::vector<double> relative;
    for (int w = 0; w < 60; ++w)
        relative.push_back(rms(Generated::volts(*source, channel, 24000 * w, 4800)) /
                           (2.5 * figure("gain")));
    double mean = 0.0;
    for (double r : relative)
        mean += r / 60.0;
    EXPECT_NEAR(mean, 1.0, 1e-6);  // noise and harmonics move a window by under 4e-7
    const auto [low, high] = std::minmax_element(relative.begin(), relative.end());
    EXPECT_NEAR(*high - 1.0, figure("drift"), 1e-5);
    EXPECT_NEAR(1.0 - *low, figure("drift"), 1e-5);
    EXPECT_NEAR(rms(Generated::volts(*source, channel, 30 * 48000 + 4800, 4800)) /
                    rms(Generated::volts(*source, channel, 4800, 4800)),
                1.0, 3e-6)
        << "one drift period later";

    // The harmonics add up to the distortion, mostly the second and third (10 s: all on bins).
    const std::size_t n = 480000;
    const std::vector<double> v = volts(channel, n);
    double power = 0.0;
    for (int k = 2; k <= 5; ++k)
        power += std::pow(tone_amplitude(v, kRateHz, 1000.0 * k), 2);
    const double expected_v = figure("thd") * tone_amplitude(v, kRateHz, 1000.0);
    // Five standard errors of the noise in the four bins.
    EXPECT_NEAR(std::sqrt(power), expected_v, 10.0 * bin_error_v(n) + 1e-3 * expected_v);
    const double second_and_third =
        std::hypot(tone_amplitude(v, kRateHz, 2000.0), tone_amplitude(v, kRateHz, 3000.0));
    EXPECT_GT(second_and_third / std::sqrt(power), 0.95);
}

TEST_P(DeviceChannel, CrossTalkIsItsShareOfTheOtherChannel) {
    generator->set_output_on(channel, false);
    const std::size_t n = 960000;  // 20 s
    const double leaked = tone_amplitude(volts(channel, n), kRateHz, 1000.0);
    const double expected_v =
        figure("crosstalk") * tone_amplitude(volts(1 - channel, n), kRateHz, 1000.0);
    // Five standard errors of the bin, and the driven channel's drift (0.2 %).
    EXPECT_NEAR(leaked, expected_v, 5.0 * bin_error_v(n) + 2.5e-3 * expected_v);
}

INSTANTIATE_TEST_SUITE_P(Sources, DeviceChannel, ::testing::ValuesIn(csv_beside("devices.csv")),
                         RowName{});

TEST_F(Generated, SameSeedSameSamplesWhateverTheOrderOfReads) {
    auto whole = open("sim", 42);
    auto pieces = open("sim", 42);
    std::vector<double> expected(20000), got(20000);
    whole->read(kChannelB, 1000, expected);
    // The same window read backwards in uneven pieces, with other reads in between.
    std::mt19937 pick(3);
    for (std::size_t end = got.size(), size = 0; end > 0; end -= size) {
        size = std::min<std::size_t>(end, 1 + pick() % 3000);
        pieces->read(kChannelB, 1000 + static_cast<std::int64_t>(end - size),
                     std::span(got).subspan(end - size, size));
        volts(*pieces, kChannelA, pick() % 100000, 777);
    }
    EXPECT_EQ(got, expected);
}

TEST_F(Generated, ProducesInStepWithTheClockAndReadsSilenceOutsideWhatItMade) {
    clock.set(5.0);
    auto s = open_source("sim", generator, {1, clock.clock(), 10.0});
    EXPECT_EQ(s->frames_now(), 0);
    clock.set(6.25);
    EXPECT_EQ(s->frames_now(), 60000);
    clock.set(6.0);  // a clock that steps back does not take frames back
    EXPECT_EQ(s->frames_now(), 60000);
    EXPECT_GE(s->history_frames(), 48000);
    clock.set(6.25);
    const auto is_zero = [](double x) { return x == 0.0; };
    const auto edge = volts(*s, kChannelA, 59990, 20);
    EXPECT_TRUE(std::none_of(edge.begin(), edge.begin() + 10, is_zero));
    EXPECT_TRUE(std::all_of(edge.begin() + 10, edge.end(), is_zero));
    const auto start = volts(*s, kChannelA, -5, 10);
    EXPECT_TRUE(std::all_of(start.begin(), start.begin() + 5, is_zero));
    EXPECT_THROW(volts(*s, 2, 0, 1), std::out_of_range);
}

TEST_F(Generated, FullScaleSetsTheUnitsAndNothingFoldsBackFromAboveHalfTheRate) {
    auto s = open("sim");
    std::vector<double> units(48000);
    s->set_full_scale_v_rms(kDigitalFullScaleVRms);
    s->read(kChannelA, 0, units);
    // 1 V RMS through a gain of 1.006 (+-0.2 % drift) is 1.006 of a 1 V full-scale sine.
    EXPECT_NEAR(rms(units), 1.006 / std::numbers::sqrt2, 1.006 * 2.1e-3);
    EXPECT_THROW(s->set_full_scale_v_rms(0.0), std::invalid_argument);
    EXPECT_THROW(s->set_full_scale_v_rms(std::nan("")), std::invalid_argument);

    s->set_full_scale_v_rms(10.0);
    generator->set_frequency_hz(15000.0);  // harmonics at 30 and 45 kHz would fold to 18 and 3
    std::vector<double> v = volts(*s, kChannelA, 0, 480000);
    EXPECT_NEAR(tone_amplitude(v, kRateHz, 15000.0), 1.006 * std::numbers::sqrt2, 1.006 * 0.003);
    // The noise alone puts about 6.7e-8 V in a bin; the folded harmonics would be 2e-5 V.
    EXPECT_LT(tone_amplitude(v, kRateHz, 18000.0), 4e-7);
    EXPECT_LT(tone_amplitude(v, kRateHz, 3000.0), 4e-7);
    generator->set_frequency_hz(30000.0);
    EXPECT_NEAR(rms(volts(*s, kChannelA, 0, 1 << 17)), 30e-6 * std::sqrt(24000.0 / 19980.0), 1e-6);
}

// A fresh directory for each file test.
class Files : public ::testing::Test {
public:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    const fs::path dir = fs::temp_directory_path() /
                         ("vantel_sources_" + std::to_string(::getpid()) + "_" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// Writes `frames` of values over the full range and returns them (interleaved) as they must read
// back: a b-bit sample s is s / 2^(b-1) of full scale; a float sample is itself.
std::vector<double> write_file(const std::string& path, int format, int channels, int rate_hz,
                               int frames) {
    SF_INFO info{0, rate_hz, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    const int sub = format & SF_FORMAT_SUBMASK;
    const int bits = sub == SF_FORMAT_PCM_16 ? 16 : sub == SF_FORMAT_PCM_24 ? 24 : 32;
    std::vector<double> expected(static_cast<std::size_t>(frames * channels));
    std::vector<int> ints(expected.size());
    std::vector<float> floats(expected.size());
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const auto sample = static_cast<std::int32_t>(state) >> (32 - bits);
        ints[i] = static_cast<int>(static_cast<std::uint32_t>(sample) << (32 - bits));
        floats[i] = static_cast<float>(std::ldexp(sample, 1 - bits));
        expected[i] = sub == SF_FORMAT_FLOAT ? floats[i] : std::ldexp(sample, 1 - bits);
    }
    if (sub == SF_FORMAT_FLOAT)
        sf_writef_float(file, floats.data(), frames);
    else
        sf_writef_int(file, ints.data(), frames);
    sf_close(file);
    return expected;
}

// The libsndfile format of a row of file_formats.csv.
int format_of(const CsvRow& row) {
    static const std::map<std::string, int> codes = {
        {"wav", SF_FORMAT_WAV},       {"flac", SF_FORMAT_FLAC},     {"aiff", SF_FORMAT_AIFF},
        {"pcm_16", SF_FORMAT_PCM_16}, {"pcm_24", SF_FORMAT_PCM_24}, {"pcm_32", SF_FORMAT_PCM_32},
        {"float", SF_FORMAT_FLOAT}};
    return codes.at(row["container"]) | codes.at(row["samples"]);
}

class FileFormat : public Files, public ::testing::WithParamInterface<CsvRow> {};

TEST_P(FileFormat, PlaysTheSamplesInFullScaleUnitsAndLoops) {
    const CsvRow& row = GetParam();
    const std::string path = file(row.name);
    const auto channels = static_cast<int>(row.integer("channels"));
    const auto rate_hz = static_cast<int>(row.integer("rate_hz"));
    constexpr int kFrames = 10007;  // crosses two block boundaries, ends mid-block
    const auto expected = write_file(path, format_of(row), channels, rate_hz, kFrames);
    FakeClock clock;
    auto source = open_source(path, nullptr, {1, clock.clock(), 10.0});
    EXPECT_EQ(source->rate_hz(), rate_hz);
    EXPECT_NE(source->describe().find(path), std::string::npos);
    const auto warnings = source->warnings();
    EXPECT_EQ(warnings.size(), channels > 2 ? 1u : 0u);
    for (const std::string& warning : warnings)
        EXPECT_THAT(warning, ::testing::HasSubstr("has " + std::to_string(channels) +
                                                  " channels; playing the first two"));

    clock.set(3.5 * kFrames / rate_hz);  // three and a half times through the file
    const std::int64_t produced = source->frames_now();
    for (int ch = 0; ch < kChannels; ++ch) {
        const int file_ch = channels == 1 ? 0 : ch;  // mono feeds both
        std::vector<double> got(static_cast<std::size_t>(produced + 10));
        source->read(ch, 0, got);
        std::size_t wrong = 0;
        for (std::int64_t f = 0; f < produced; ++f)
            wrong += got[f] != expected[(f % kFrames) * channels + file_ch];
        EXPECT_EQ(wrong, 0u) << "channel " << ch << " over " << produced << " frames";
        EXPECT_EQ(got.back(), 0.0) << "not produced yet";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, FileFormat, ::testing::ValuesIn(csv_beside("file_formats.csv")),
                         RowName{});

// The file a row of bad_files.csv names: none, a folder, an empty file or one of text, or a
// 100000-frame stereo file in the row's format and rate, with garbage over its header or cut short.
std::string bad_file(const Files& f, const CsvRow& row) {
    const std::string &kind = row["file"], path = f.file(row.name);
    if (kind == "directory")
        return f.file("");
    if (kind == "empty" || kind == "notes")
        std::ofstream(path) << (kind == "notes" ? "Notes.\n" : "");
    if (kind == "sound" || kind == "garbage_header")
        write_file(path, format_of(row), 2, static_cast<int>(row.integer("rate_hz")), 100000);
    if (kind == "garbage_header")
        std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(12)
            << "garbagegarbagegarbagegarbage";
    if (!row["cut_to_bytes"].empty())
        fs::resize_file(path, static_cast<std::uintmax_t>(row.integer("cut_to_bytes")));
    return path;
}

class BadFile : public Files, public ::testing::WithParamInterface<CsvRow> {};

TEST_P(BadFile, IsRefusedWithItsNameAndTheReason) {
    const std::string path = bad_file(*this, GetParam());
    EXPECT_THAT(thrown<SourceError>([&] { open_source(path, std::make_shared<Generator>()); }),
                ::testing::HasSubstr("cannot open file \"" + path + "\": " + GetParam()["reason"]));
}

INSTANTIATE_TEST_SUITE_P(Sources, BadFile, ::testing::ValuesIn(csv_beside("bad_files.csv")),
                         RowName{});

TEST(OpenSource, RefusesAnEmptyNameAndNoGenerator) {
    EXPECT_THROW(open_source("", std::make_shared<Generator>()), SourceError);
    EXPECT_THROW(open_source("sim", nullptr), std::invalid_argument);
}

// What a file source holds does not grow with a number in the file's header: a file of 1024
// channels (libsndfile's most) costs what a stereo one does, and still plays its first two.
TEST_F(Files, MemoryDoesNotFollowTheHeadersChannelCount) {
    constexpr int kFrames = 100;
    write_file(file("stereo"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, kFrames);
    const auto many =
        write_file(file("many"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1024, 48000, kFrames);
    FakeClock clock;
    FileSource two(file("stereo"), clock.clock()), lots(file("many"), clock.clock());
    EXPECT_EQ(lots.cache_capacity_bytes(), two.cache_capacity_bytes());
    clock.set(1.0);
    ASSERT_GE(lots.frames_now(), kFrames);
    for (int ch = 0; ch < kChannels; ++ch) {
        std::vector<double> got(kFrames);
        lots.read(ch, 0, got);
        for (int f = 0; f < kFrames; ++f)
            ASSERT_EQ(got[f], many[static_cast<std::size_t>(f * 1024 + ch)]) << "frame " << f;
    }
}

// File names are bytes: every name comes back byte for byte through text, and valid UTF-8 reads
// as its characters (file_names.csv).
class FileNameText : public ::testing::TestWithParam<CsvRow> {};

TEST_P(FileNameText, CarriesEveryByteThroughText) {
    const std::string bytes = GetParam().text("bytes");
    std::u16string text;
    for (const std::string& unit : testing_support::words(GetParam()["utf16"]))
        text += static_cast<char16_t>(std::stoi(unit, nullptr, 16));
    EXPECT_EQ(text_from_file_name(bytes), text);
    EXPECT_EQ(file_name_from_text(text_from_file_name(bytes)), bytes);
}

INSTANTIATE_TEST_SUITE_P(Names, FileNameText, ::testing::ValuesIn(csv_beside("file_names.csv")),
                         RowName());

TEST(FileNameText, ALoneSurrogateThatNoByteGaveIsTheReplacementCharacter) {
    EXPECT_EQ(file_name_from_text(u"\xD800x\xDC41"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vantel::source
