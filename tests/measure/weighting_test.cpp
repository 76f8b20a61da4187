// SPDX-License-Identifier: MIT
// The weighting curves as the whole chain measures them (Wide band, RMS) against the standards'
// tables at every rate: within 0.1 dB of the formula, and never outside the standard's tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
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

std::vector<ChainRow> curve_rows() {
    std::vector<ChainRow> rows;
    const auto exact = read_table("derived_a_c_weighting_annexE_exact.csv");
    const auto table3 = read_table("a_weighting_iec61672.csv");
    for (double rate : kRates) {
        // IEC 61672-1: Annex E at the exact band frequencies, Table 3's class 1 tolerances.
        for (const TableRow& e : exact) {
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
            rows.push_back(curve_row("Flat", Curve::Flat, rate, f, 0.0, 0.0, -0.01, 0.01));
        for (double f : {50.0, 200.0, 400.0, 800.0, 4000.0, 20000.0}) {
            const double r = f / 400.0, expected = db(r * r / std::sqrt(1.0 + r * r * r * r));
            rows.push_back(curve_row("Highpass400", Curve::Highpass400, rate, f, expected, expected,
                                     -0.01, 0.01));
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Weighting, ChainReading, testing::ValuesIn(curve_rows()),
                         testing_support::RowName{});

class AboveTwentyKilohertz : public testing::TestWithParam<double> {};

// Above 20 kHz the A response keeps falling, at least 12 dB an octave (24th-octave steps).
TEST_P(AboveTwentyKilohertz, AResponseKeepsFalling) {
    const double rate = GetParam();
    std::vector<std::pair<double, double>> readings;
    for (double f = 20000.0; f <= 0.47 * rate; f *= std::pow(2.0, 1.0 / 24.0)) {
        ChannelMeter meter(rate);
        meter.configure({Band::Wide, Curve::A, Detector::Rms});
        play_tone(meter, 0.5, Tone{f});
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

}  // namespace
}  // namespace vantel::measure::test
