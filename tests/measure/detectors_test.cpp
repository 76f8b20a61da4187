// SPDX-License-Identifier: MIT
// The detectors through the whole chain: sine calibration, the true peak between samples
// (ITU-R BS.1770-4's fs/4 case), an RMS reading that does not ripple with a low tone, and the
// quasi-peak tone-burst tables of BS.468-4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "measure/support.h"
#include "row_name.h"

namespace vantel::measure::test {
namespace {

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
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Detectors, ChainReading, testing::ValuesIn(detector_rows()),
                         testing_support::RowName{});

class PerRate : public testing::TestWithParam<double> {};

// Low tones under RMS: integrated over whole periods, successive readings agree within 0.01 dB
// and read the tone's RMS. 30 Hz fits 200 ms exactly; 23.3 and 31.7 Hz leave part of a period
// over, which a plain 200 ms average would show as ripple.
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

// BS.468-4 Tables 2 and 3: the quasi-peak reading of 5 kHz tone bursts (single ones, and 5 ms
// bursts repeated) against the steady tone's reading.
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
    // The reading is the meter's highest deflection, polled every millisecond: after the burst
    // for a single one, over the last second of four for repeated ones.
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
