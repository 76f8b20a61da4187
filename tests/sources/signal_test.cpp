// SPDX-License-Identifier: MIT
// The simulated device and the loopback, measured from their samples: noise, tone level and
// drift, harmonics, cross-talk, and their timing and determinism.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>
#include <random>

#include "measure_signal.h"
#include "row_name.h"
#include "sources/open_source.h"

namespace vantel::source {
namespace {

using testing::rms;
using testing::tone_amplitude;

constexpr double kRateHz = 48000.0;
// A full-scale sine (amplitude 1.0) is 10 V RMS on the analogue inputs.
constexpr double kVoltsPerUnit = 10.0 * std::numbers::sqrt2;

// One channel of a generated source, with the figures it must show.
struct DeviceRow {
    const char* name;
    const char* source_name;
    int channel;
    double gain, noise_v_rms, thd, crosstalk, drift;
};
void PrintTo(const DeviceRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr DeviceRow kDeviceRows[] = {
    {"sim_A", "sim", kChannelA, 1.006, 30e-6, 1.5e-5, 1e-5, 2e-3},
    {"sim_B", "sim", kChannelB, 0.994, 33e-6, 2e-5, 1.26e-5, 2e-3},
    {"loopback_A", "loopback", kChannelA, 1.0, 2e-6, 3e-6, 1e-7, 0.0},
    {"loopback_B", "loopback", kChannelB, 1.0, 2e-6, 3e-6, 1e-7, 0.0},
};

class Generated : public ::testing::Test {
protected:
    std::unique_ptr<SampleSource> open(const char* source_name, std::uint64_t seed = 7) {
        auto s = open_source(source_name, generator, {seed, clock.clock(), 10.0});
        clock.advance(100.0);  // 100 s produced
        return s;
    }
    static std::vector<double> volts(SampleSource& s, int ch, std::int64_t first, std::size_t n) {
        std::vector<double> v(n);
        s.read(ch, first, v);
        for (double& x : v)
            x *= kVoltsPerUnit;
        return v;
    }
    testing::FakeClock clock;
    std::shared_ptr<Generator> generator = std::make_shared<Generator>();
};

class DeviceChannel : public Generated, public ::testing::WithParamInterface<DeviceRow> {
protected:
    void SetUp() override { source = open(GetParam().source_name); }
    std::vector<double> volts(int ch, std::size_t n) { return Generated::volts(*source, ch, 0, n); }
    // One DFT bin's amplitude over `n` frames of white noise errs by sigma * sqrt(2 / n).
    double bin_error_v(std::size_t n) const {
        return GetParam().noise_v_rms * std::sqrt(24000.0 / 19980.0 * 2.0 / static_cast<double>(n));
    }
    std::unique_ptr<SampleSource> source;
};

// Noise alone: white, its RMS over 20 Hz-20 kHz the whole RMS x sqrt(19980 / 24000), and normal
// to its tails, since peak detectors read noise by its crests.
TEST_P(DeviceChannel, NoiseIsWhiteAndNormalWithItsRmsInTheAudioBand) {
    generator->set_on(false);
    const std::vector<double> v = volts(GetParam().channel, std::size_t{1} << 20);
    const double sigma = rms(v);
    // 2^20 draws: the RMS deviates by 0.07 %; noise not scaled for the band is 9 % off.
    EXPECT_NEAR(sigma * std::sqrt(19980.0 / 24000.0) / GetParam().noise_v_rms, 1.0, 0.005);
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
    const int ch = GetParam().channel;
    generator->set_output_on(1 - ch, false);  // no cross-talk into this channel
    generator->set_level_v_rms(2.5);
    // 60 windows of 0.1 s over the 30 s drift period: the drift averages out of their mean, and
    // their extremes catch its crest within 0.14 %.
    std::vector<double> relative;
    for (int w = 0; w < 60; ++w)
        relative.push_back(rms(Generated::volts(*source, ch, 24000 * w, 4800)) /
                           (2.5 * GetParam().gain));
    double mean = 0.0;
    for (double r : relative)
        mean += r / 60.0;
    EXPECT_NEAR(mean, 1.0, 1e-6);  // noise and harmonics move a window by under 4e-7
    const auto [low, high] = std::minmax_element(relative.begin(), relative.end());
    EXPECT_NEAR(*high - 1.0, GetParam().drift, 1e-5);
    EXPECT_NEAR(1.0 - *low, GetParam().drift, 1e-5);
    EXPECT_NEAR(rms(Generated::volts(*source, ch, 30 * 48000 + 4800, 4800)) /
                    rms(Generated::volts(*source, ch, 4800, 4800)),
                1.0, 3e-6)
        << "one drift period later";

    // The harmonics add up to the distortion, mostly the second and third (10 s: all on bins).
    const std::size_t n = 480000;
    const std::vector<double> v = volts(ch, n);
    double power = 0.0;
    for (int k = 2; k <= 5; ++k)
        power += std::pow(tone_amplitude(v, kRateHz, 1000.0 * k), 2);
    const double expected_v = GetParam().thd * tone_amplitude(v, kRateHz, 1000.0);
    // Five standard errors of the noise in the four bins.
    EXPECT_NEAR(std::sqrt(power), expected_v, 10.0 * bin_error_v(n) + 1e-3 * expected_v);
    const double second_and_third =
        std::hypot(tone_amplitude(v, kRateHz, 2000.0), tone_amplitude(v, kRateHz, 3000.0));
    EXPECT_GT(second_and_third / std::sqrt(power), 0.95);
}

TEST_P(DeviceChannel, CrossTalkIsItsShareOfTheOtherChannel) {
    generator->set_output_on(GetParam().channel, false);
    const std::size_t n = 960000;  // 20 s
    const double leaked = tone_amplitude(volts(GetParam().channel, n), kRateHz, 1000.0);
    const double expected_v =
        GetParam().crosstalk * tone_amplitude(volts(1 - GetParam().channel, n), kRateHz, 1000.0);
    // Five standard errors of the bin, and the driven channel's drift (0.2 %).
    EXPECT_NEAR(leaked, expected_v, 5.0 * bin_error_v(n) + 2.5e-3 * expected_v);
}

INSTANTIATE_TEST_SUITE_P(Sources, DeviceChannel, ::testing::ValuesIn(kDeviceRows),
                         testing_support::RowName{});

TEST_F(Generated, SameSeedSameSamplesWhateverTheOrderOfReadsAndOtherSeedsOtherNoise) {
    auto whole = open("sim", 42);
    auto pieces = open("sim", 42);
    std::vector<double> expected(20000);
    whole->read(kChannelB, 1000, expected);
    // The same window read backwards in uneven pieces, with other reads in between.
    std::vector<double> got(20000);
    std::mt19937 pick(3);
    for (std::size_t end = got.size(), size = 0; end > 0; end -= size) {
        size = std::min<std::size_t>(end, 1 + pick() % 3000);
        pieces->read(kChannelB, 1000 + static_cast<std::int64_t>(end - size),
                     std::span(got).subspan(end - size, size));
        volts(*pieces, kChannelA, pick() % 100000, 777);
    }
    EXPECT_EQ(got, expected);

    generator->set_on(false);
    auto correlation = [](const std::vector<double>& a, const std::vector<double>& b) {
        double ab = 0.0, aa = 0.0, bb = 0.0;
        for (std::size_t i = 0; i < a.size(); ++i)
            ab += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
        return ab / std::sqrt(aa * bb);
    };
    // Independent noise correlates by about 1/sqrt(100000) = 0.003; allow five times that.
    const auto a = volts(*whole, kChannelA, 0, 100000);
    EXPECT_LT(std::abs(correlation(a, volts(*open("sim", 43), kChannelA, 0, 100000))), 0.016);
    EXPECT_LT(std::abs(correlation(a, volts(*whole, kChannelB, 0, 100000))), 0.016);
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
    const auto edge = volts(*s, kChannelA, 59990, 20);
    EXPECT_TRUE(std::none_of(edge.begin(), edge.begin() + 10, [](double x) { return x == 0.0; }));
    EXPECT_TRUE(std::all_of(edge.begin() + 10, edge.end(), [](double x) { return x == 0.0; }));
    const auto start = volts(*s, kChannelA, -5, 10);
    EXPECT_TRUE(std::all_of(start.begin(), start.begin() + 5, [](double x) { return x == 0.0; }));
    EXPECT_THROW(volts(*s, 2, 0, 1), std::out_of_range);
}

TEST_F(Generated, FullScaleSetsTheUnits) {
    auto s = open("sim");
    std::vector<double> units(48000);
    s->set_full_scale_v_rms(kDigitalFullScaleVRms);
    s->read(kChannelA, 0, units);
    // 1 V RMS through a gain of 1.006 (+-0.2 % drift) is 1.006 of a 1 V full-scale sine.
    EXPECT_NEAR(rms(units), 1.006 / std::numbers::sqrt2, 1.006 * 2.1e-3);
    EXPECT_THROW(s->set_full_scale_v_rms(0.0), std::invalid_argument);
    EXPECT_THROW(s->set_full_scale_v_rms(std::nan("")), std::invalid_argument);
}

// Nothing at or above half the rate folds back as a false frequency.
TEST_F(Generated, NothingFoldsBackFromAboveHalfTheRate) {
    auto s = open("sim");
    generator->set_frequency_hz(15000.0);  // harmonics at 30 and 45 kHz would fold to 18 and 3
    std::vector<double> v = volts(*s, kChannelA, 0, 480000);
    EXPECT_NEAR(tone_amplitude(v, kRateHz, 15000.0), 1.006 * std::numbers::sqrt2, 1.006 * 0.003);
    // The noise alone puts about 6.7e-8 V in a bin; the folded harmonics would be 2e-5 V.
    EXPECT_LT(tone_amplitude(v, kRateHz, 18000.0), 4e-7);
    EXPECT_LT(tone_amplitude(v, kRateHz, 3000.0), 4e-7);
    generator->set_frequency_hz(30000.0);
    EXPECT_NEAR(rms(volts(*s, kChannelA, 0, 1 << 17)), 30e-6 * std::sqrt(24000.0 / 19980.0), 1e-6);
}

}  // namespace
}  // namespace vantel::source
