// SPDX-License-Identifier: MIT
// THD+N (AES17), frequency and the selective level through the whole chain, and what the meter
// does with silence, bad samples, bad rates and new settings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "measure/support.h"
#include "row_name.h"

namespace vantel::measure {
namespace {

using test::db;
using test::kRates;
using test::Tone;

struct ThdRow {
    std::string name;
    double rate_hz, frequency_hz;
    Band band;
};
void PrintTo(const ThdRow& row, std::ostream* os) {
    *os << row.name;
}

std::vector<ThdRow> thd_rows() {
    std::vector<ThdRow> rows;
    for (double rate : kRates)
        for (double f : {997.0, 1000.0})
            for (Band band : {Band::Wide, Band::Audio})
                rows.push_back({test::identifier(std::to_string(static_cast<int>(rate)) + "_" +
                                                 std::to_string(static_cast<int>(f)) + "Hz_" +
                                                 (band == Band::Wide ? "Wide" : "Audio")),
                                rate, f, band});
    return rows;
}

class Distortion : public testing::TestWithParam<ThdRow> {};

// AES17 refers THD+N to the whole signal: a third harmonic at -60 dB re the fundamental reads
// 0.1 / sqrt(1 + 1e-6) % = 0.09999995 %.
TEST_P(Distortion, ThirdHarmonicAtMinus60dB) {
    const ThdRow& row = GetParam();
    ChannelMeter meter(row.rate_hz);
    meter.configure({row.band, Curve::Flat, Detector::Rms});
    const Tone fundamental{row.frequency_hz, 0.5}, third{3.0 * row.frequency_hz, 0.5e-3};
    test::play(meter, 1.0, [&](long long n) {
        return fundamental.at(row.rate_hz, n) + third.at(row.rate_hz, n);
    });
    EXPECT_NEAR(100.0 * meter.thdn_ratio(), 0.09999995, 0.0005);
}

// A clean double-precision sine reads the fit's floor, far below any converter's.
TEST_P(Distortion, CleanSineReadsBelowMinus140dB) {
    const ThdRow& row = GetParam();
    ChannelMeter meter(row.rate_hz);
    meter.configure({row.band, Curve::Flat, Detector::Rms});
    test::play_tone(meter, 1.0, Tone{row.frequency_hz, 0.9});
    const double thdn = meter.thdn_ratio();
    EXPECT_GE(thdn, 0.0);
    EXPECT_LT(db(thdn), -140.0);
}

// Frequency within 10 ppm, here from 20 Hz to 19 kHz.
TEST_P(Distortion, FrequencyWithinTenPpm) {
    const ThdRow& row = GetParam();
    for (double f : {20.0, 30.0, row.frequency_hz, 10000.0, 19000.0}) {
        ChannelMeter meter(row.rate_hz);
        meter.configure({row.band, Curve::A, Detector::Rms});
        test::play_tone(meter, 1.0, Tone{f, 0.3});
        EXPECT_NEAR(meter.frequency_hz(), f, 10e-6 * f) << f << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Tones, Distortion, testing::ValuesIn(thd_rows()),
                         testing_support::RowName{});

class NoiseOnSine : public testing::TestWithParam<Band> {};

// White noise of RMS sigma on a sine at 48 kHz: only the 20 Hz-20 kHz part of the noise counts,
// THD+N ~ sigma sqrt((20000 - 20) / 24000) / (A / sqrt(2)). Ten readings averaged (one reading
// of 200 ms scatters by about 1 %).
TEST_P(NoiseOnSine, OnlyTheBandCounts) {
    constexpr double rate = 48000.0, amplitude = 0.5, sigma = 1e-3;
    ChannelMeter meter(rate);
    meter.configure({GetParam(), Curve::Flat, Detector::Rms});
    std::mt19937_64 random(1234);
    std::normal_distribution<double> noise(0.0, sigma);
    const Tone tone{997.0, amplitude};
    auto signal = [&](long long n) { return tone.at(rate, n) + noise(random); };
    long long n = test::play(meter, 1.0, signal);
    double sum = 0.0;
    for (int i = 0; i < 10; ++i) {
        n = test::play(meter, 0.2, signal, n);
        sum += meter.thdn_ratio();
    }
    const double expected =
        sigma * std::sqrt((20000.0 - 20.0) / (rate / 2.0)) / (amplitude / std::numbers::sqrt2);
    EXPECT_NEAR(sum / 10.0, expected, 0.02 * expected);
    EXPECT_NEAR(meter.frequency_hz(), 997.0, 997.0 * 10e-6);
}

INSTANTIATE_TEST_SUITE_P(Bands, NoiseOnSine, testing::Values(Band::Wide, Band::Audio),
                         [](const auto& band) {
                             return std::string(band.param == Band::Wide ? "Wide" : "Audio");
                         });

// Noise alone has no fundamental: 0 Hz, and all of it is noise (THD+N 1).
TEST(Analysis, NoiseAloneHasNoFundamental) {
    ChannelMeter meter(48000.0);
    std::mt19937_64 random(99);
    std::normal_distribution<double> noise(0.0, 0.1);
    for (int i = 0; i < 5; ++i) {
        test::play(meter, 0.2, [&](long long) { return noise(random); });
        EXPECT_EQ(meter.frequency_hz(), 0.0);
        EXPECT_DOUBLE_EQ(meter.thdn_ratio(), 1.0);
    }
}

// Cross-talk: the undriven channel's tiny leak at the driven channel's frequency, under hum and
// a loud tone elsewhere, read selectively.
TEST(Analysis, LevelAtReadsOneComponent) {
    constexpr double rate = 48000.0;
    ChannelMeter meter(rate);
    const Tone leak{1000.0, 1e-4}, hum{50.0, 0.3}, other{7000.0, 0.5};
    test::play(meter, 1.0,
               [&](long long n) { return leak.at(rate, n) + hum.at(rate, n) + other.at(rate, n); });
    EXPECT_NEAR(db(meter.level_at(1000.0) / (leak.amplitude / std::numbers::sqrt2)), 0.0, 0.01);
    EXPECT_NEAR(db(meter.level_at(50.0) / (hum.amplitude / std::numbers::sqrt2)), 0.0, 0.01);
    EXPECT_LT(meter.level_at(3000.0), 1e-9);
}

// Digital silence: every reading is exactly 0 under every chain.
TEST(Analysis, SilenceReadsZeroEverywhere) {
    for (Band band : {Band::Wide, Band::Audio})
        for (Curve curve :
             {Curve::Flat, Curve::A, Curve::Highpass400, Curve::Ccir468, Curve::Ccir468At2k})
            for (Detector detector :
                 {Detector::Rms, Detector::TruePeak, Detector::SamplePeak, Detector::QuasiPeak}) {
                ChannelMeter meter(44100.0);
                EXPECT_EQ(meter.level(), 0.0);  // before any sample, too
                meter.configure({band, curve, detector});
                test::play(meter, 0.5, [](long long) { return 0.0; });
                EXPECT_EQ(meter.level(), 0.0);
                EXPECT_EQ(meter.thdn_ratio(), 0.0);
                EXPECT_EQ(meter.frequency_hz(), 0.0);
                EXPECT_EQ(meter.level_at(1000.0), 0.0);
            }
}

// NaN and infinity would stay in the filters for good; they are measured as 0 and counted, and
// the meter reads the tone again once they have left the window.
TEST(Analysis, NonFiniteSamplesDoNotPoisonTheMeter) {
    constexpr double rate = 48000.0;
    for (Detector detector : {Detector::Rms, Detector::QuasiPeak}) {
        ChannelMeter meter(rate);
        meter.configure({Band::Audio, Curve::A, detector});
        const Tone tone{1000.0, 0.5};
        long long n = test::play_tone(meter, 0.5, tone);
        const std::vector<double> bad = {std::numeric_limits<double>::quiet_NaN(), INFINITY,
                                         -INFINITY};
        meter.process(bad);
        EXPECT_TRUE(std::isfinite(meter.level()));
        EXPECT_TRUE(std::isfinite(meter.thdn_ratio()));
        test::play_tone(meter, 3.0, tone, n + 3);
        EXPECT_EQ(meter.non_finite_samples(), 3u);
        EXPECT_NEAR(db(meter.level() / (tone.amplitude / std::numbers::sqrt2)), 0.0, 0.05);
        EXPECT_NEAR(meter.frequency_hz(), 1000.0, 0.01);
    }
}

TEST(Analysis, RefusesRatesBelow8kHz) {
    for (double rate : {7999.0, 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN()}) {
        try {
            ChannelMeter meter(rate);
            ADD_FAILURE() << "accepted " << rate << " Hz";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("8000 Hz"), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(ChannelMeter{8000.0});
}

// The same settings change nothing; new ones restart the history, so the first reading after
// them is that of the new chain (here: nothing yet).
TEST(Analysis, ConfigureRestartsOnlyOnChange) {
    constexpr double rate = 48000.0;
    ChannelMeter meter(rate);
    const Tone tone{1000.0, 0.5};
    const long long n = test::play_tone(meter, 0.5, tone);
    const double before = meter.level();
    meter.configure(ChainSettings{});
    EXPECT_EQ(meter.level(), before);
    meter.configure({Band::Wide, Curve::A, Detector::Rms});
    EXPECT_EQ(meter.level(), 0.0);
    test::play_tone(meter, 0.5, tone, n);
    EXPECT_NEAR(meter.level(), before, before * 1e-3);  // A is 0 dB at 1 kHz
    meter.restart();
    EXPECT_EQ(meter.level(), 0.0);
}

}  // namespace
}  // namespace vantel::measure
