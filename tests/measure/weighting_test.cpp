// SPDX-License-Identifier: MIT
// The weighting curves as the whole chain measures them (Wide band, RMS) against the standards'
// tables at every rate: within 0.1 dB of the formula, and never outside the standard's tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <span>
#include <tuple>

#include "measure/support.h"
#include "row_name.h"

namespace vantel::measure::test {

TEST_P(ChainReading, IsWithinTheRowsBounds) {
    const double reading = reading_of(GetParam());
    EXPECT_GE(reading, GetParam().low);
    EXPECT_LE(reading, GetParam().high);
}

namespace {

// IEC 61672-1 Annex E's A curve in dB, 0 dB at 1 kHz (the standards README's poles and A1000).
double a_weighting_db(double f) {
    constexpr double f1 = 20.598997057618316, f2 = 107.65264864304629, f3 = 737.8622307362901,
                     f4 = 12194.217147998012;
    const double f_2 = f * f;
    return 20.0 * std::log10(f4 * f4 * f_2 * f_2 /
                             ((f_2 + f1 * f1) * std::sqrt(f_2 + f2 * f2) *
                              std::sqrt(f_2 + f3 * f3) * (f_2 + f4 * f4))) +
           1.999655535667262;
}

// ITU-R BS.468-4's network in its s-plane form (the standards README's poles), 0 dB at `unity_hz`.
double ccir468_network_db(double frequency_hz, double unity_hz) {
    const std::complex<double> poles[] = {{-25903.70104781628, 0.0},
                                          {-23615.53521363528, 36379.90893732929},
                                          {-23615.53521363528, -36379.90893732929},
                                          {-18743.74669072136, 62460.15645250649},
                                          {-18743.74669072136, -62460.15645250649},
                                          {-62675.1700584679, 0.0}};
    auto magnitude = [&](double f) {
        const std::complex<double> s(0.0, 2.0 * std::numbers::pi * f);
        std::complex<double> h = s;
        for (const auto& p : poles)
            h /= s - p;
        return std::abs(h);
    };
    return db(magnitude(frequency_hz) / magnitude(unity_hz));
}

// A full-scale tone through `curve`: within 0.1 dB of `formula_db` (NaN: no goal) and within
// [nominal + minus, nominal + plus].
ChainRow curve_row(const char* curve_name, Curve curve, double rate, double f, double formula_db,
                   double nominal_db, double minus_db, double plus_db) {
    const bool goal = !std::isnan(formula_db);
    const double low = std::max(nominal_db + minus_db, goal ? formula_db - 0.1 : -INFINITY);
    const double high = std::min(nominal_db + plus_db, goal ? formula_db + 0.1 : INFINITY);
    const auto decihertz = std::to_string(std::lround(f * 10)) + "dHz";
    return ChainRow(name_of(curve_name, static_cast<int>(rate), decihertz), rate,
                    ChainSettings{Band::Wide, curve, Detector::Rms}, std::vector{Tone{f}},
                    Reading::LevelDb, low, high);
}

// Every curve at `rates`: each table row, or with `octaves_only` the rows of the octave bands
// (31.5 Hz, 63 Hz, ... 16 kHz) and 20 kHz.
std::vector<ChainRow> curve_rows(std::span<const double> rates, bool octaves_only) {
    std::vector<ChainRow> rows;
    const auto exact = read_table("derived_a_c_weighting_annexE_exact.csv");
    const auto table3 = read_table("a_weighting_iec61672.csv");
    auto wanted = [&](double nominal_hz) {
        if (!octaves_only || nominal_hz == 20000.0)
            return true;
        const double octaves_from_1k = std::log2(nominal_hz / 1000.0);
        return std::abs(octaves_from_1k - std::round(octaves_from_1k)) < 0.05 && nominal_hz > 30.0;
    };
    for (double rate : rates) {
        // IEC 61672-1: Annex E at the exact band frequencies, Table 3's class 1 tolerances.
        for (const TableRow& e : exact) {
            if (!wanted(std::stod(e.at("nominal_hz"))) || std::stod(e.at("exact_hz")) > 0.45 * rate)
                continue;
            const auto tolerance = std::ranges::find_if(table3, [&](const TableRow& t) {
                return std::stod(t.at("freq_hz")) == std::stod(e.at("nominal_hz"));
            });
            if (tolerance == table3.end())
                throw std::runtime_error("no tolerance for " + e.at("nominal_hz") + " Hz");
            const double f = std::stod(e.at("exact_hz"));
            rows.push_back(
                curve_row("A", Curve::A, rate, f,
                          f >= 19.9 && f <= 20000.0 ? std::stod(e.at("A_db_norm1k")) : NAN,
                          std::stod(e.at("table3_A_db")), std::stod(tolerance->at("tol_minus_db")),
                          std::stod(tolerance->at("tol_plus_db"))));
        }
        // BS.468-4 Table 1, re 1 kHz and re 2 kHz. Rows must lie below 0.45 fs to be played.
        for (const auto& [file, name, curve, unity_hz] :
             {std::tuple{"itu468.csv", "Ccir468", Curve::Ccir468, 1000.0},
              std::tuple{"itu468_2khz_arm.csv", "Ccir468At2k", Curve::Ccir468At2k, 2000.0}}) {
            for (const TableRow& t : read_table(file)) {
                const double f = std::stod(t.at("freq_hz"));
                if (!wanted(f))
                    continue;
                double minus = std::stod(t.at("tol_minus_db")),
                       plus = std::stod(t.at("tol_plus_db"));
                // The 6.3 kHz anchor has no tolerance: its value is good to its rounding.
                if (minus == 0.0 && plus == 0.0) {
                    minus = -0.05;
                    plus = 0.05;
                }
                if (f <= 0.45 * rate)
                    rows.push_back(curve_row(name, curve, rate, f,
                                             f <= 20000.0 ? ccir468_network_db(f, unity_hz) : NAN,
                                             std::stod(t.at("nominal_db")), minus, plus));
            }
        }
        // Flat, and the 2nd-order Butterworth high-pass at 400 Hz, within 0.01 dB.
        for (double f : {20.0, 31.5, 997.0, 10000.0, 20000.0})
            if (f <= 0.45 * rate)
                rows.push_back(curve_row("Flat", Curve::Flat, rate, f, 0.0, 0.0, -0.01, 0.01));
        for (double f : {50.0, 200.0, 400.0, 800.0, 4000.0, 20000.0}) {
            if (f > 0.45 * rate)
                continue;
            const double r = f / 400.0, expected = db(r * r / std::sqrt(1.0 + r * r * r * r));
            rows.push_back(curve_row("Highpass400", Curve::Highpass400, rate, f, expected, expected,
                                     -0.01, 0.01));
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Weighting, ChainReading, testing::ValuesIn(curve_rows(kRates, false)),
                         testing_support::RowName{});

// The rates beyond the usual five, from 8 kHz to the DXD rates and 768 kHz, hold the same
// tolerances as 48 kHz: every curve at the octave bands, every detector on a 997 Hz tone, the
// Audio band's response and its THD+N. A-weighting threw from 300 kHz up (a fitted zero inside
// its band), and the first reading ended the program.
constexpr double kMoreRates[] = {8000.0,   11025.0,  16000.0,  22050.0, 32000.0,
                                 352800.0, 384000.0, 705600.0, 768000.0};

std::vector<ChainRow> more_rate_rows() {
    std::vector<ChainRow> rows = curve_rows(kMoreRates, true);
    for (double rate : kMoreRates) {
        auto add = [&](const std::string& name, ChainSettings chain, std::vector<Tone> tones,
                       Reading reading, double low, double high) {
            rows.emplace_back(
                name_of(name, static_cast<int>(rate), static_cast<int>(tones.front().frequency_hz)),
                rate, chain, std::move(tones), reading, low, high);
        };
        const Tone tone{997.0, 0.5};
        for (const auto& [name, detector, tolerance_db] :
             {std::tuple{"Rms", Detector::Rms, 0.01},
              {"TruePeak", Detector::TruePeak, 0.01},
              {"SamplePeak", Detector::SamplePeak, 0.02},
              {"QuasiPeak", Detector::QuasiPeak, 0.01}}) {
            // A is 0 dB at 997 Hz within 0.0003 dB; its design keeps within 0.04 dB of that.
            add(name, {Band::Wide, Curve::Flat, detector}, {tone}, Reading::LevelDb, -tolerance_db,
                tolerance_db);
            add(std::string(name) + "A", {Band::Wide, Curve::A, detector}, {tone}, Reading::LevelDb,
                -tolerance_db - 0.04, tolerance_db + 0.04);
        }
        for (double f : {20.0, 997.0, std::min(20000.0, 0.45 * rate)})
            add("AudioResponse", {Band::Audio, Curve::Flat, Detector::Rms}, {Tone{f}},
                Reading::LevelDb, -0.05, 0.05);
        add("ThirdHarmonic", {Band::Audio, Curve::Flat, Detector::Rms},
            {{997.0, 0.5}, {2991.0, 0.5e-3}}, Reading::ThdnDb, db(0.09999995e-2 * 0.995),
            db(0.09999995e-2 * 1.005));
        add("CleanSine", {Band::Audio, Curve::A, Detector::Rms}, {{997.0, 0.9}}, Reading::ThdnDb,
            -INFINITY, -140.0);
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(MoreRates, ChainReading, testing::ValuesIn(more_rate_rows()),
                         testing_support::RowName{});

// Every rate from 8 kHz to 768 kHz, in 1 kHz steps and at the usual ones, has a design for every
// band and weighting, and its A curve keeps to the formula within 0.1 dB from 20 Hz to 20 kHz
// (or 0.45 fs), in 1/3-octave steps.
TEST(EveryRate, HasEveryDesignAndKeepsTheACurve) {
    std::vector<double> rates = {11025.0, 22050.0, 44100.0, 88200.0, 176400.0, 352800.0, 705600.0};
    for (double rate = 8000.0; rate <= 768000.0; rate += 1000.0)
        rates.push_back(rate);
    for (double rate : rates) {
        EXPECT_NO_THROW(design_band(Band::Audio, rate)) << rate;
        for (Curve curve : {Curve::Highpass400, Curve::Ccir468, Curve::Ccir468At2k})
            EXPECT_NO_THROW(design_weighting(curve, rate))
                << rate << " Hz, curve " << static_cast<int>(curve);
        FilterDesign a;
        ASSERT_NO_THROW(a = design_weighting(Curve::A, rate)) << rate;
        for (double f = 20.0; f <= std::min(20000.0, 0.45 * rate); f *= std::pow(2.0, 1.0 / 3.0))
            EXPECT_NEAR(a.gain_db(f), a_weighting_db(f), 0.1) << rate << " Hz, at " << f << " Hz";
    }
}

class AboveTwentyKilohertz : public testing::TestWithParam<double> {};

// Above 20 kHz the A response keeps falling, at least 12 dB an octave (24th-octave steps).
TEST_P(AboveTwentyKilohertz, AResponseKeepsFalling) {
    const double rate = GetParam();
    std::vector<std::pair<double, double>> readings;
    for (double f = 20000.0; f <= 0.47 * rate; f *= std::pow(2.0, 1.0 / 24.0)) {
        ChannelMeter meter(rate);
        meter.configure({Band::Wide, Curve::A, Detector::Rms});
        play_tone(meter, 0.3, Tone{f});
        readings.emplace_back(f, db(meter.level() * std::numbers::sqrt2));
    }
    ASSERT_GE(readings.size(), 2u);
    for (std::size_t i = 1; i < readings.size(); ++i) {
        EXPECT_LT(readings[i].second, readings[i - 1].second) << "rises at " << readings[i].first;
        if (i >= 24) {
            EXPECT_LE(readings[i].second, readings[i - 24].second - 12.0)
                << "octave from " << readings[i - 24].first << " Hz";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, AboveTwentyKilohertz, testing::ValuesIn(kRates), rate_name);
INSTANTIATE_TEST_SUITE_P(MoreRates, AboveTwentyKilohertz,
                         testing::Values(352800.0, 384000.0, 768000.0), rate_name);

}  // namespace
}  // namespace vantel::measure::test
