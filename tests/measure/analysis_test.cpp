// SPDX-License-Identifier: MIT
// The whole chain's readings (THD+N, frequency, selective level), its detectors against AES17,
// BS.1770-4 and BS.468-4, and what it does with silence, bad samples, bad rates, new settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "measure/support.h"
#include "row_name.h"

namespace vantel::measure::test {
namespace {

using testing_support::thrown;

// AES17 refers THD+N to the whole signal: a third harmonic at -60 dB re the fundamental reads
// 0.1 / sqrt(1 + 1e-6) % = 0.09999995 %, here within 0.0005 %. A clean double-precision sine
// reads the fit's floor, below -140 dB (and never below 0). The frequency holds within 10 ppm
// from 20 Hz to 19 kHz, under A weighting, which changes the waveform but not its period. The
// Audio band is AES17's 20 Hz-20 kHz: flat within 0.05 dB from 20 Hz to 20 kHz and at least
// 60 dB down from 24 kHz.
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
                    db(0.09999995e-2 * 0.995), db(0.09999995e-2 * 1.005));
                add("CleanSine", f, Curve::Flat, {{f, 0.9}}, Reading::ThdnDb, -INFINITY, -140.0);
            }
            for (double f : {20.0, 30.0, 997.0, 1000.0, 10000.0, 19000.0})
                add("Frequency", f, Curve::A, {{f, 0.3}}, Reading::FrequencyHz, f * (1.0 - 10e-6),
                    f * (1.0 + 10e-6));
            if (band == Band::Wide)
                continue;
            for (double f : {20.0, 997.0, 20000.0})
                add("Response", f, Curve::Flat, {{f}}, Reading::LevelDb, -0.05, 0.05);
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

// THD+N across the band, as AES17 sweeps it, at 44.1, 48 and 96 kHz:
// - Floor: a clean double-precision sine reads below -140 dB from 20 Hz to 20 kHz under every
//   weighting. Sections that paired the band's high-pass poles with the low-pass's zeros
//   cancelled at some 110 dB and read -73 dB at 25 Hz, -37 dB under A.
// - ThirdHarmonic: a 0.1 % third harmonic reads 0.09999995 % within 0.5 % of its value for any
//   fundamental from 20 Hz to 6.6 kHz: the band is flat from 20 Hz (its high-pass no longer cuts
//   the fundamental more than its harmonic) to 20 kHz (where 6.6 kHz puts its third).
// - BandEdge: a fundamental at exactly 20 Hz or 20 kHz, fitted a hair inside or outside, is in
//   the band: a 1 kHz tone 60 dB under a 20 kHz one reads 0.1 %, not 100 %.
std::vector<ChainRow> thdn_rows() {
    std::vector<ChainRow> rows;
    const std::pair<const char*, Curve> curves[] = {{"Flat", Curve::Flat},
                                                    {"A", Curve::A},
                                                    {"Highpass400", Curve::Highpass400},
                                                    {"Ccir468", Curve::Ccir468},
                                                    {"Ccir468At2k", Curve::Ccir468At2k}};
    const double third_low = db(0.09999995e-2 * 0.995), third_high = db(0.09999995e-2 * 1.005);
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        auto add = [&](std::string name, Curve curve, std::vector<Tone> tones, double low,
                       double high) {
            rows.emplace_back(std::move(name), rate,
                              ChainSettings{Band::Audio, curve, Detector::Rms}, std::move(tones),
                              Reading::ThdnDb, low, high);
        };
        for (const auto& [curve_name, curve] : curves)
            for (double f : {20.0, 25.0, 31.5, 50.0, 100.0, 1000.0, 10000.0, 20000.0})
                add(name_of("Floor", curve_name, static_cast<int>(rate), f, "Hz"), curve,
                    {{f, 0.9}}, -INFINITY, -140.0);
        for (double f : {20.0, 25.0, 31.0, 50.0, 100.0, 997.0, 3000.0, 6600.0})
            add(name_of("ThirdHarmonic", static_cast<int>(rate), f, "Hz"), Curve::Flat,
                {{f, 0.5}, {3.0 * f, 0.5e-3}}, third_low, third_high);
        for (double phase_deg : {0.0, 30.0, 60.0})
            add(name_of("BandEdge", static_cast<int>(rate), "20000Hz", phase_deg, "deg"),
                Curve::Flat,
                {{20000.0, 0.5, phase_deg * std::numbers::pi / 180.0}, {1000.0, 0.5e-3}}, third_low,
                third_high);
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Thdn, ChainReading, testing::ValuesIn(thdn_rows()),
                         testing_support::RowName{});

// White noise of RMS sigma on a sine at 48 kHz, in either band: only its 20 Hz-20 kHz part
// counts, THD+N ~ sigma sqrt(19980 / 24000) / (A / sqrt(2)), averaged over ten readings (one
// scatters by 1 %). Noise alone has no fundamental: 0 Hz, and THD+N 1.
TEST(Analysis, NoiseOnASineCountsInTheBandAndNoiseAloneHasNoFundamental) {
    constexpr double rate = 48000.0, sigma = 1e-3;
    std::mt19937_64 random(1234);
    for (Band band : {Band::Wide, Band::Audio}) {
        ChannelMeter meter(rate);
        meter.configure({band, Curve::Flat, Detector::Rms});
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
    ChannelMeter meter(rate);
    std::normal_distribution<double> noise(0.0, 0.1);
    for (int i = 0; i < 5; ++i) {
        play(meter, 0.2, [&](long long) { return noise(random); });
        EXPECT_EQ(meter.frequency_hz(), 0.0);
        EXPECT_DOUBLE_EQ(meter.thdn_ratio(), 1.0);
    }
}

// Cross-talk: a tiny leak under hum and a loud tone elsewhere, read selectively.
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

// RMS and the peaks look back 200 ms: a 100 ms burst after silence fills half the window (RMS
// -3 dB, the peak whole), and 150 ms later a quarter of it (-6 dB), until it has left.
TEST(Analysis, DetectorsLookBackTwoHundredMilliseconds) {
    const Tone tone{1000.0};
    for (auto [detector, half, quarter] :
         {std::tuple{Detector::Rms, -3.01, -6.02}, {Detector::SamplePeak, 0.0, 0.0}}) {
        ChannelMeter meter(48000.0);
        meter.configure({Band::Wide, Curve::Flat, detector});
        const auto silence = [](long long) { return 0.0; };
        long long n = play(meter, 1.0, silence);
        n = play_tone(meter, 0.1, tone, n);
        EXPECT_NEAR(db(meter.level() / tone.rms()), half, 0.05);
        n = play(meter, 0.15, silence, n);
        EXPECT_NEAR(db(meter.level() / tone.rms()), quarter, 0.05);
        play(meter, 0.06, silence, n);
        EXPECT_LT(meter.level(), 1e-2 * tone.rms());  // the filters' tails only
    }
}

// NaN and infinity are measured as 0 and counted, and leave the filters with the window.
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

// Rates outside 8 kHz to 768 kHz are refused, before anything is sized by them.
TEST(Analysis, RefusesRatesOutside8kHzTo768kHz) {
    for (double rate : {7999.0, 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_THAT(thrown<std::invalid_argument>([&] { ChannelMeter{rate}; }),
                    testing::HasSubstr("below the 8000 Hz"))
            << rate;
    for (double rate : {768001.0, 1e12, std::numeric_limits<double>::infinity()})
        EXPECT_THAT(thrown<std::invalid_argument>([&] { ChannelMeter{rate}; }),
                    testing::HasSubstr("above the 768000 Hz"))
            << rate;
    EXPECT_NO_THROW(ChannelMeter{8000.0});
    EXPECT_NO_THROW(ChannelMeter{768000.0});
}

// Pk Sample and Peak of the unweighted Wide band read the signal as it arrives, DC and all (the
// largest sample is what clips; BS.1770 measures true peak with DC); RMS is AC-coupled, as an AC
// meter's is. Readings in dBFS, at 48 kHz.
struct ArrivalRow {
    std::string name;
    Detector detector;
    std::function<double(long long n)> signal;
    double expected_dbfs, tolerance_db;
};

std::vector<ArrivalRow> arrival_rows() {
    const auto dc_under_sine = [](long long n) { return 0.25 + Tone{997.0, 0.5}.at(48000.0, n); };
    // 1 kHz, 24 samples at +1 and 24 at -1.
    const auto square = [](long long n) { return n % 48 < 24 ? 1.0 : -1.0; };
    return {
        {"SamplePeakOfDcUnderASine", Detector::SamplePeak, dc_under_sine, db(0.75), 0.02},
        {"TruePeakOfDcUnderASine", Detector::TruePeak, dc_under_sine, db(0.75), 0.01},
        {"SamplePeakOfAFullScaleSquare", Detector::SamplePeak, square, 0.0, 1e-6},
        {"TruePeakOfDcAlone", Detector::TruePeak, [](long long) { return -0.5; }, db(0.5), 1e-6},
        {"RmsOfDcUnderASineIsTheSineAlone", Detector::Rms, dc_under_sine, db(0.5), 0.01},
    };
}

class SignalAsItArrives : public testing::TestWithParam<ArrivalRow> {};

TEST_P(SignalAsItArrives, ReadsInDbfs) {
    const ArrivalRow& row = GetParam();
    ChannelMeter meter(48000.0);
    meter.configure({Band::Wide, Curve::Flat, row.detector});
    play(meter, 3.0, row.signal);
    EXPECT_NEAR(db(meter.level() * std::numbers::sqrt2), row.expected_dbfs, row.tolerance_db);
}

INSTANTIATE_TEST_SUITE_P(Peaks, SignalAsItArrives, testing::ValuesIn(arrival_rows()),
                         testing_support::RowName{});

// A chain restarted on a signal with DC (new settings replay the last second) starts settled on
// that second's mean: its first reading is the settled one within 0.01 dB, the quasi-peak's
// too, with no step decaying through it.
TEST(Analysis, RestartSettledOnTheInputsMeanLeavesNoStep) {
    constexpr double rate = 48000.0;
    const auto dc_under_sine = [](long long n) { return 0.25 + Tone{1000.0, 0.25}.at(48000.0, n); };
    for (Detector detector : {Detector::Rms, Detector::QuasiPeak}) {
        ChannelMeter settled(rate), restarted(rate);
        for (ChannelMeter* m : {&settled, &restarted})
            m->configure({Band::Wide, Curve::Flat, detector});
        const long long second = static_cast<long long>(rate);
        play(settled, 5.0, dc_under_sine);
        double sum = 0.0;
        for (long long n = 4 * second; n < 5 * second; ++n)
            sum += dc_under_sine(n);
        restarted.restart(sum / static_cast<double>(second));
        play(restarted, 1.0, dc_under_sine, 4 * second);
        EXPECT_NEAR(db(restarted.level() / settled.level()), 0.0, 0.01)
            << (detector == Detector::Rms ? "RMS" : "quasi-peak");
    }
}

// The same settings change nothing; new ones restart the history.
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

// Every detector reads a steady sine as its RMS, within 0.01 dB. The sample peak is the largest
// sample (997 Hz puts samples near every phase of the crest): 0.02 dB. Quasi-peak is calibrated
// at 1 kHz and holds within 0.05 dB at 5 kHz. BS.1770-4: a sine at fs/4 sampled at 45 degrees
// has samples at 0.707 of its crest; the true peak reads the crest, the sample peak 3.01 dB less.
std::vector<ChainRow> detector_rows() {
    std::vector<ChainRow> rows;
    auto add = [&](const char* name, double rate, Detector detector, Tone tone, double expected_db,
                   double tolerance_db) {
        rows.emplace_back(
            name_of(name, static_cast<int>(rate), static_cast<int>(tone.frequency_hz)), rate,
            ChainSettings{Band::Wide, Curve::Flat, detector}, std::vector{tone}, Reading::LevelDb,
            expected_db - tolerance_db, expected_db + tolerance_db);
    };
    for (double rate : kRates) {
        for (double f : {30.0, 997.0, 15000.0})
            add("Rms", rate, Detector::Rms, {f, 0.5}, 0.0, 0.01);
        for (double f : {997.0, 5000.0, 15000.0})
            add("TruePeak", rate, Detector::TruePeak, {f, 0.5}, 0.0, 0.01);
        add("SamplePeak", rate, Detector::SamplePeak, {997.0, 0.5}, 0.0, 0.02);
        add("QuasiPeak", rate, Detector::QuasiPeak, {1000.0, 0.5}, 0.0, 0.01);
        add("QuasiPeak", rate, Detector::QuasiPeak, {5000.0, 0.5}, 0.0, 0.05);
        const Tone quarter_rate{rate / 4.0, 0.8, std::numbers::pi / 4.0};
        add("TruePeakBetweenSamples", rate, Detector::TruePeak, quarter_rate, 0.0, 0.01);
        add("SamplePeakBetweenSamples", rate, Detector::SamplePeak, quarter_rate, -3.0103, 0.01);
    }
    // Quasi-peak wherever the samples fall on the wave: tones locked to the rate (4, 3 and 2.5
    // samples a cycle, 9 samples for 4 cycles) and 20 kHz, at three phases, within 0.1 dB. On
    // the samples alone 12 kHz at 48 kHz read +0.26, -0.42 and -2.70 dB.
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (double f : {rate / 4.0, rate / 3.0, 0.4 * rate, rate * 4.0 / 9.0, 20000.0}) {
            if (f > 20000.0)
                continue;
            for (double phase_deg : {0.0, 22.5, 45.0})
                rows.emplace_back(name_of("QuasiPeakAtPhase", static_cast<int>(rate),
                                          static_cast<int>(f), phase_deg, "deg"),
                                  rate, ChainSettings{Band::Wide, Curve::Flat, Detector::QuasiPeak},
                                  std::vector{Tone{f, 0.5, phase_deg * std::numbers::pi / 180.0}},
                                  Reading::LevelDb, -0.1, 0.1);
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Detectors, ChainReading, testing::ValuesIn(detector_rows()),
                         testing_support::RowName{});

class PerRate : public testing::TestWithParam<double> {};

// Low tones under RMS, integrated over whole periods, do not ripple (0.01 dB): 30 Hz fits 200 ms,
// 23.3 and 31.7 Hz leave part of a period over.
TEST_P(PerRate, LowToneDoesNotRipple) {
    for (double f : {30.0, 23.3, 31.7}) {
        ChannelMeter meter(GetParam());
        const Tone tone{f, 0.5};
        long long n = play_tone(meter, 1.0, tone);
        double lowest = INFINITY, highest = -INFINITY;
        for (int reading = 0; reading < 15; ++reading) {
            // Readings every 200 ms plus a little, so the window starts at every phase.
            n = play_tone(meter, 0.2 + 0.0031 * reading, tone, n);
            lowest = std::min(lowest, db(meter.level() / tone.rms()));
            highest = std::max(highest, db(meter.level() / tone.rms()));
        }
        EXPECT_LT(highest - lowest, 0.01) << f << " Hz";
        EXPECT_NEAR(highest, 0.0, 0.01) << f << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, PerRate, testing::ValuesIn(kRates), rate_name);

// BS.468-4 Tables 2 and 3: quasi-peak readings of 5 kHz tone bursts against the steady tone's.
struct BurstRow {
    std::string name;
    double rate_hz, burst_ms, bursts_per_s, lower_db, upper_db;
    friend void PrintTo(const BurstRow& row, std::ostream* os) { *os << row.name; }
};

std::vector<BurstRow> burst_rows() {
    std::vector<BurstRow> rows;
    for (double rate : kRates) {
        for (const TableRow& t : read_table("qpeak_tone_burst.csv")) {
            const std::string& per_s = t.at("bursts_per_s");
            rows.push_back(
                {name_of(t.at("table"), t.at("burst_ms") + "ms",
                         per_s.empty() ? "once" : per_s + "_per_s", static_cast<int>(rate)),
                 rate, std::stod(t.at("burst_ms")), per_s.empty() ? 0.0 : std::stod(per_s),
                 std::stod(t.at("lower_db")), std::stod(t.at("upper_db"))});
        }
    }
    return rows;
}

class ToneBurst : public testing::TestWithParam<BurstRow> {};

TEST_P(ToneBurst, QuasiPeakReadsWithinTheTable) {
    const BurstRow& row = GetParam();
    const double rate = row.rate_hz;
    const Tone tone{5000.0, 0.5};
    ChannelMeter steady(rate), meter(rate);
    for (ChannelMeter* m : {&steady, &meter})
        m->configure({Band::Wide, Curve::Flat, Detector::QuasiPeak});
    play_tone(steady, 3.0, tone);
    ASSERT_GT(steady.level(), 0.0);

    const auto burst = static_cast<long long>(std::llround(row.burst_ms * 1e-3 * rate));
    const auto period = row.bursts_per_s > 0.0
                            ? static_cast<long long>(std::llround(rate / row.bursts_per_s))
                            : 0LL;
    // Each burst starts at the tone's zero crossing and holds a whole number of cycles.
    auto signal = [&](long long n) {
        const long long in_burst = period > 0 ? n % period : n;
        return in_burst < burst ? tone.at(rate, in_burst) : 0.0;
    };
    // The highest deflection, polled every millisecond (repeated bursts: in the last second).
    const double seconds = period > 0 ? 4.0 : 1.5;
    const auto step = static_cast<long long>(rate / 1000.0);
    double highest = 0.0;
    for (long long n = 0; n < static_cast<long long>(seconds * rate); n += step) {
        play(meter, static_cast<double>(step) / rate, signal, n);
        if (period == 0 || static_cast<double>(n) > (seconds - 1.0) * rate)
            highest = std::max(highest, meter.level());
    }
    EXPECT_GE(db(highest / steady.level()), row.lower_db);
    EXPECT_LE(db(highest / steady.level()), row.upper_db);
}

INSTANTIATE_TEST_SUITE_P(Bs468, ToneBurst, testing::ValuesIn(burst_rows()),
                         testing_support::RowName{});

}  // namespace
}  // namespace vantel::measure::test
