// SPDX-License-Identifier: MIT
// The simulated device and the loopback, measured from their samples: noise in AES17's band,
// tone level and drift, harmonics, cross-talk, and the real-time and determinism contracts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <ostream>
#include <random>
#include <vector>

#include "measure_signal.h"
#include "row_name.h"
#include "simulator/signal_model.h"
#include "sources/open_source.h"

namespace vantel::source {
namespace {

using testing::band_rms;
using testing::FakeClock;
using testing::rms;
using testing::tone_amplitude;

constexpr double kRateHz = 48000.0;
constexpr double kFullScaleVRms = 10.0;
// Samples to volts: a full-scale sine, amplitude 1.0, is kFullScaleVRms RMS.
constexpr double kVoltsPerUnit = kFullScaleVRms * std::numbers::sqrt2;

// One channel of a generated source, with the figures it must show.
struct DeviceRow {
    const char* name;
    const char* spec;
    int channel;
    double gain;
    double noise_v_rms;  // in 20 Hz to 20 kHz
    double thd;
    double crosstalk;
    double drift;
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

class DeviceChannel : public ::testing::TestWithParam<DeviceRow> {
protected:
    void SetUp() override {
        clock.set(100.0);
        source = open_source(GetParam().spec, generator, {7, clock.clock(), kFullScaleVRms});
        clock.set(200.0);  // 100 s produced
    }

    // `frames` of the channel in volts, starting at `first_frame`.
    std::vector<double> volts(int channel, std::int64_t first_frame, std::size_t frames) {
        std::vector<double> v(frames);
        source->read(channel, first_frame, v);
        for (double& x : v)
            x *= kVoltsPerUnit;
        return v;
    }

    // The standard error of one DFT bin's amplitude over `frames` of white noise: each of its
    // two components has a deviation of sigma * sqrt(2 / frames).
    double bin_error_v(std::size_t frames) const {
        const double white_v = GetParam().noise_v_rms * std::sqrt(24000.0 / 19980.0);
        return white_v * std::sqrt(2.0 / static_cast<double>(frames));
    }

    FakeClock clock;
    std::shared_ptr<Generator> generator = std::make_shared<Generator>();
    std::unique_ptr<SampleSource> source;
};

TEST_P(DeviceChannel, NoiseAloneHasItsRmsInTheAudioBand) {
    generator->set_on(false);
    const std::size_t frames = std::size_t{1} << 17;
    const std::vector<double> v = volts(GetParam().channel, 0, frames);
    // About 54,500 bins fall in the band; each holds an exponentially distributed power, so the
    // summed power has a relative deviation of 1/sqrt(54500) = 0.43 % and the RMS half that.
    // 1 % is more than four deviations, and a noise not scaled for the band misses by 9 %.
    EXPECT_NEAR(band_rms(v, kRateHz, 20.0, 20000.0) / GetParam().noise_v_rms, 1.0, 0.01);
}

TEST_P(DeviceChannel, ToneIsGainTimesLevelAndDriftsWithinItsBounds) {
    // Only this channel driven, so no cross-talk adds to it.
    generator->set_output_on(1 - GetParam().channel, false);
    generator->set_level_v_rms(2.5);
    // 60 windows of 0.1 s (100 whole cycles of 1 kHz), evenly over one 30 s drift period: the
    // drift averages out of their mean exactly and shows in their spread.
    std::vector<double> relative;
    for (int w = 0; w < 60; ++w) {
        const std::vector<double> v = volts(GetParam().channel, 24000 * w, 4800);
        relative.push_back(rms(v) / (2.5 * GetParam().gain));
    }
    double mean = 0.0;
    for (double r : relative)
        mean += r / 60.0;
    // Noise and harmonics move a window's RMS by under 1e-6 of the tone.
    EXPECT_NEAR(mean, 1.0, 1e-6);
    const auto [low, high] = std::minmax_element(relative.begin(), relative.end());
    // Sixty samples of a sine catch its crest within 1 - cos(pi / 60) = 0.14 %.
    EXPECT_NEAR(*high - 1.0, GetParam().drift, 1e-5);
    EXPECT_NEAR(1.0 - *low, GetParam().drift, 1e-5);
    // The same window one drift period later reads the same, up to the noise (4e-7 a window).
    const int ch = GetParam().channel;
    EXPECT_NEAR(rms(volts(ch, 30 * 48000 + 4800, 4800)) / rms(volts(ch, 4800, 4800)), 1.0, 3e-6);
}

TEST_P(DeviceChannel, HarmonicsAddUpToTheDistortion) {
    const std::size_t frames = 480000;  // 10 s: 1 kHz and its harmonics fall on bins
    const std::vector<double> v = volts(GetParam().channel, 0, frames);
    const double fundamental = tone_amplitude(v, kRateHz, 1000.0);
    double harmonics_power = 0.0;
    for (int k = 2; k <= 5; ++k)
        harmonics_power += std::pow(tone_amplitude(v, kRateHz, 1000.0 * k), 2);
    const double low_order =
        std::hypot(tone_amplitude(v, kRateHz, 2000.0), tone_amplitude(v, kRateHz, 3000.0));
    const double harmonics = std::sqrt(harmonics_power);
    const double expected_v = GetParam().thd * fundamental;
    // Five standard errors of the noise in four bins, plus the noise's own bias on a sum of
    // squares.
    EXPECT_NEAR(harmonics, expected_v, 5.0 * 2.0 * bin_error_v(frames) + 1e-3 * expected_v);
    EXPECT_GT(low_order / harmonics, 0.95) << "mostly second and third";
}

TEST_P(DeviceChannel, CrossTalkIsItsShareOfTheOtherChannel) {
    generator->set_output_on(GetParam().channel, false);
    const std::size_t frames = 960000;  // 20 s
    const double leaked = tone_amplitude(volts(GetParam().channel, 0, frames), kRateHz, 1000.0);
    const double driven = tone_amplitude(volts(1 - GetParam().channel, 0, frames), kRateHz, 1000.0);
    const double expected_v = GetParam().crosstalk * driven;
    // Five standard errors of the bin, and the driven channel's drift (0.2 %).
    EXPECT_NEAR(leaked, expected_v, 5.0 * bin_error_v(frames) + 2.5e-3 * expected_v);
}

INSTANTIATE_TEST_SUITE_P(Sources, DeviceChannel, ::testing::ValuesIn(kDeviceRows),
                         testing_support::RowName{});

// The closed-form analyser and the sampled one simulate the same device.
TEST(SimulatedDevice, ModelsMatchTheAnalysersSignalSettings) {
    const sim::SignalSettings closed_form;
    const DeviceModel dut = device_under_test();
    const DeviceModel loop = analyser_loopback();
    for (int ch = 0; ch < kChannels; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(dut.channels[ch].gain, closed_form.dut[ch].gain);
        EXPECT_EQ(dut.channels[ch].noise_v_rms, closed_form.dut[ch].noise_v);
        EXPECT_EQ(dut.channels[ch].thd, closed_form.dut[ch].thd);
        EXPECT_EQ(dut.channels[ch].crosstalk, closed_form.dut[ch].crosstalk);
        EXPECT_EQ(loop.channels[ch].gain, closed_form.loopback.gain);
        EXPECT_EQ(loop.channels[ch].noise_v_rms, closed_form.loopback.noise_v);
        EXPECT_EQ(loop.channels[ch].thd, closed_form.loopback.thd);
        EXPECT_EQ(loop.channels[ch].crosstalk, closed_form.loopback.crosstalk);
    }
    EXPECT_EQ(dut.drift, closed_form.drift);
    EXPECT_EQ(dut.drift_period_s, closed_form.drift_period_s);
    EXPECT_EQ(kAnalogueFullScaleVRms, closed_form.analogue_full_scale_v);
}

class SimulatedDeviceTest : public ::testing::Test {
protected:
    std::unique_ptr<SampleSource> open(std::uint64_t seed) {
        return open_source("sim", generator, {seed, clock.clock(), kFullScaleVRms});
    }
    std::vector<double> read(SampleSource& s, int channel, std::int64_t first, std::size_t n) {
        std::vector<double> v(n);
        s.read(channel, first, v);
        return v;
    }
    static double correlation(const std::vector<double>& a, const std::vector<double>& b) {
        double ab = 0.0, aa = 0.0, bb = 0.0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            ab += a[i] * b[i];
            aa += a[i] * a[i];
            bb += b[i] * b[i];
        }
        return ab / std::sqrt(aa * bb);
    }

    FakeClock clock;
    std::shared_ptr<Generator> generator = std::make_shared<Generator>();
};

TEST_F(SimulatedDeviceTest, SameSeedGivesTheSameSamplesWhateverTheOrderOfReads) {
    auto whole = open(42);
    auto pieces = open(42);
    clock.set(10.0);
    const std::vector<double> expected = read(*whole, kChannelB, 1000, 20000);
    // The same window read backwards in uneven pieces, with other reads in between.
    std::vector<double> got(20000);
    std::mt19937 pick(3);
    std::size_t end = got.size();
    while (end > 0) {
        const std::size_t size = std::min<std::size_t>(end, 1 + pick() % 3000);
        pieces->read(kChannelB, 1000 + static_cast<std::int64_t>(end - size),
                     std::span(got).subspan(end - size, size));
        read(*pieces, kChannelA, static_cast<std::int64_t>(pick() % 100000), 777);
        end -= size;
    }
    EXPECT_EQ(got, expected);
}

TEST_F(SimulatedDeviceTest, NoiseDiffersBetweenSeedsAndBetweenChannels) {
    generator->set_on(false);
    auto one = open(1);
    auto two = open(2);
    clock.set(10.0);
    const auto a1 = read(*one, kChannelA, 0, 100000);
    // Independent noise correlates by about 1/sqrt(100000) = 0.003; allow five times that.
    EXPECT_LT(std::abs(correlation(a1, read(*two, kChannelA, 0, 100000))), 0.016);
    EXPECT_LT(std::abs(correlation(a1, read(*one, kChannelB, 0, 100000))), 0.016);
    EXPECT_LT(std::abs(correlation(a1, read(*one, kChannelA, 1, 100000))), 0.016);
}

TEST_F(SimulatedDeviceTest, ProducesInStepWithTheClockAndReadsSilenceOutsideWhatItMade) {
    clock.set(5.0);
    auto s = open(1);
    EXPECT_EQ(s->frames_now(), 0);
    clock.set(6.25);
    EXPECT_EQ(s->frames_now(), 60000);
    clock.set(6.0);  // a clock that steps back does not take frames back
    EXPECT_EQ(s->frames_now(), 60000);
    clock.set(6.25);
    const auto edge = read(*s, kChannelA, 59990, 20);
    EXPECT_TRUE(std::all_of(edge.begin(), edge.begin() + 10, [](double x) { return x != 0.0; }));
    EXPECT_TRUE(std::all_of(edge.begin() + 10, edge.end(), [](double x) { return x == 0.0; }));
    const auto start = read(*s, kChannelA, -5, 10);
    EXPECT_TRUE(std::all_of(start.begin(), start.begin() + 5, [](double x) { return x == 0.0; }));
    EXPECT_NE(start[6], 0.0);
    EXPECT_GE(s->history_frames(), 48000);
}

TEST_F(SimulatedDeviceTest, FullScaleSetsTheUnitsAndIsChecked) {
    auto s = open(1);
    clock.set(2.0);
    const auto analogue = read(*s, kChannelA, 0, 48000);
    s->set_full_scale_v_rms(1.0);  // the digital inputs
    const auto digital = read(*s, kChannelA, 0, 48000);
    EXPECT_NEAR(rms(digital) / rms(analogue), 10.0, 1e-12);
    // 1 V RMS through a gain of 1.006 on a 1 V full scale reads 1.006 of a full-scale sine.
    EXPECT_NEAR(rms(digital), 1.006 / std::numbers::sqrt2, 1.006 * 2.1e-3);
    EXPECT_THROW(s->set_full_scale_v_rms(0.0), std::invalid_argument);
    EXPECT_THROW(s->set_full_scale_v_rms(std::nan("")), std::invalid_argument);
    EXPECT_EQ(read(*s, kChannelA, 0, 48000), digital);
    EXPECT_THROW(read(*s, 2, 0, 1), std::out_of_range);
}

// A tone or harmonic at or above half the rate would fold back into the band as a false
// frequency; the converter's anti-alias filter removes it instead.
TEST_F(SimulatedDeviceTest, NothingFoldsBackFromAboveHalfTheRate) {
    auto s = open(1);
    clock.set(20.0);
    generator->set_frequency_hz(15000.0);  // harmonics at 30 and 45 kHz would fold to 18 and 3
    std::vector<double> v = read(*s, kChannelA, 0, 480000);
    const double fundamental = tone_amplitude(v, kRateHz, 15000.0);
    EXPECT_NEAR(fundamental * kVoltsPerUnit, 1.006 * std::numbers::sqrt2, 1.006 * 0.003);
    // The noise alone puts about 6.7e-8 V in a bin; the folded harmonics would be 2e-5 V.
    EXPECT_LT(tone_amplitude(v, kRateHz, 18000.0) * kVoltsPerUnit, 4e-7);
    EXPECT_LT(tone_amplitude(v, kRateHz, 3000.0) * kVoltsPerUnit, 4e-7);
    generator->set_frequency_hz(30000.0);
    v = read(*s, kChannelA, 0, 1 << 17);
    EXPECT_NEAR(rms(v) * kVoltsPerUnit, 30e-6 * std::sqrt(24000.0 / 19980.0), 1e-6);
}

}  // namespace
}  // namespace vantel::source
