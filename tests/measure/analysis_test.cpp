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

namespace vantel::measure::test {
namespace {

// AES17 refers THD+N to the whole signal: a third harmonic at -60 dB re the fundamental reads
// 0.1 / sqrt(1 + 1e-6) % = 0.09999995 %, here within 0.0005 %. A clean double-precision sine
// reads the fit's floor, below -140 dB (and never below 0). The frequency holds within 10 ppm
// from 20 Hz to 19 kHz, under A weighting, which changes the waveform but not its period. The
// Audio band is AES17's 20 Hz-20 kHz: -3 dB at 20 Hz, flat within 0.05 dB up to 20 kHz and at
// least 60 dB down from 24 kHz.
std::vector<ChainRow> analysis_rows() {
    std::vector<ChainRow> rows;
    for (double rate : kRates) {
        for (Band band : {Band::Wide, Band::Audio}) {
            auto add = [&](const char* what, double f, Curve curve, std::vector<Tone> tones,
                           Reading reading, double low, double high) {
                rows.emplace_back(name_of(what, static_cast<int>(rate), static_cast<int>(f),
                                          band == Band::Wide ? "Wide" : "Audio"),
                                  rate, ChainSettings{band, curve, Detector::Rms}, std::move(tones),
                                  reading, low, high);
            };
            for (double f : {997.0, 1000.0}) {
                add("ThirdHarmonic", f, Curve::Flat, {{f, 0.5}, {3.0 * f, 0.5e-3}}, Reading::ThdnDb,
                    db(0.09999995e-2 - 0.0005e-2), db(0.09999995e-2 + 0.0005e-2));
                add("CleanSine", f, Curve::Flat, {{f, 0.9}}, Reading::ThdnDb, -INFINITY, -140.0);
            }
            for (double f : {20.0, 30.0, 997.0, 1000.0, 10000.0, 19000.0})
                add("Frequency", f, Curve::A, {{f, 0.3}}, Reading::FrequencyHz, f * (1.0 - 10e-6),
                    f * (1.0 + 10e-6));
            if (band == Band::Wide)
                continue;
            add("Response", 20.0, Curve::Flat, {{20.0}}, Reading::LevelDb, -3.03, -2.99);
            for (double f : {997.0, 20000.0})
                add("Response", f, Curve::Flat, {{f}}, Reading::LevelDb, -0.05, 0.01);
            // 24 kHz is the stop band's edge, where the filter sits at 60 dB exactly.
            if (24000.0 <= 0.45 * rate)
                add("Response", 24000.0, Curve::Flat, {{24000.0}}, Reading::LevelDb, -INFINITY,
                    -59.99);
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Analysis, ChainReading, testing::ValuesIn(analysis_rows()),
                         testing_support::RowName{});

class NoiseOnSine : public testing::TestWithParam<Band> {};

// White noise of RMS sigma on a sine at 48 kHz: only the 20 Hz-20 kHz part of the noise counts,
// THD+N ~ sigma sqrt((20000 - 20) / 24000) / (A / sqrt(2)). Ten readings averaged (one reading
// of 200 ms scatters by about 1 %).
TEST_P(NoiseOnSine, OnlyTheBandCounts) {
    constexpr double rate = 48000.0, sigma = 1e-3;
    ChannelMeter meter(rate);
    meter.configure({GetParam(), Curve::Flat, Detector::Rms});
    std::mt19937_64 random(1234);
    std::normal_distribution<double> noise(0.0, sigma);
    const Tone tone{997.0, 0.5};
    auto signal = [&](long long n) { return tone.at(rate, n) + noise(random); };
    long long n = play(meter, 1.0, signal);
    double sum = 0.0;
    for (int i = 0; i < 10; ++i) {
        n = play(meter, 0.2, signal, n);
        sum += meter.thdn_ratio();
    }
    const double expected = sigma * std::sqrt((20000.0 - 20.0) / (rate / 2.0)) / tone.rms();
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
        play(meter, 0.2, [&](long long) { return noise(random); });
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
    play(meter, 1.0,
         [&](long long n) { return leak.at(rate, n) + hum.at(rate, n) + other.at(rate, n); });
    EXPECT_NEAR(db(meter.level_at(1000.0) / leak.rms()), 0.0, 0.01);
    EXPECT_NEAR(db(meter.level_at(50.0) / hum.rms()), 0.0, 0.01);
    EXPECT_LT(meter.level_at(3000.0), 1e-9);
}

// Digital silence: every reading is exactly 0 under every chain, before any sample too.
TEST(Analysis, SilenceReadsZeroEverywhere) {
    for (Band band : {Band::Wide, Band::Audio})
        for (Curve curve :
             {Curve::Flat, Curve::A, Curve::Highpass400, Curve::Ccir468, Curve::Ccir468At2k})
            for (Detector detector :
                 {Detector::Rms, Detector::TruePeak, Detector::SamplePeak, Detector::QuasiPeak}) {
                ChannelMeter meter(44100.0);
                EXPECT_EQ(meter.level(), 0.0);
                meter.configure({band, curve, detector});
                play(meter, 0.5, [](long long) { return 0.0; });
                EXPECT_EQ(meter.level(), 0.0);
                EXPECT_EQ(meter.thdn_ratio(), 0.0);
                EXPECT_EQ(meter.frequency_hz(), 0.0);
                EXPECT_EQ(meter.level_at(1000.0), 0.0);
            }
}

// NaN and infinity would stay in the filters for good; they are measured as 0 and counted, and
// the meter reads the tone again once they have left the window.
TEST(Analysis, NonFiniteSamplesDoNotPoisonTheMeter) {
    for (Detector detector : {Detector::Rms, Detector::QuasiPeak}) {
        ChannelMeter meter(48000.0);
        meter.configure({Band::Audio, Curve::A, detector});
        const Tone tone{1000.0, 0.5};
        const long long n = play_tone(meter, 0.5, tone);
        meter.process(std::vector<double>{NAN, INFINITY, -INFINITY});
        EXPECT_TRUE(std::isfinite(meter.level()));
        EXPECT_TRUE(std::isfinite(meter.thdn_ratio()));
        play_tone(meter, 3.0, tone, n + 3);
        EXPECT_EQ(meter.non_finite_samples(), 3u);
        EXPECT_NEAR(db(meter.level() / tone.rms()), 0.0, 0.05);
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
    ChannelMeter meter(48000.0);
    const Tone tone{1000.0, 0.5};
    const long long n = play_tone(meter, 0.5, tone);
    const double before = meter.level();
    meter.configure(ChainSettings{});
    EXPECT_EQ(meter.level(), before);
    meter.configure({Band::Wide, Curve::A, Detector::Rms});
    EXPECT_EQ(meter.level(), 0.0);
    play_tone(meter, 0.5, tone, n);
    EXPECT_NEAR(meter.level(), before, before * 1e-3);  // A is 0 dB at 1 kHz
    meter.restart();
    EXPECT_EQ(meter.level(), 0.0);
}

}  // namespace
}  // namespace vantel::measure::test
