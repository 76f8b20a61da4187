// SPDX-License-Identifier: MIT
// Tones played through a whole ChannelMeter, each reading held between bounds (ChainRow): the
// weighting curves against the standards' tables (the CSV files read as they stand) at every
// rate, THD+N, frequency and the Audio band against AES17, the detectors against AES17, BS.1770-4
// and BS.468-4, and what the chain does with silence, bad samples, bad rates and new settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "csv_table.h"
#include "measure/measure.h"
#include "row_name.h"
#include "weighting_curves.h"

namespace vantel::measure::test {
namespace {

using namespace testing_support;
using testing_support::PrintTo;

constexpr double kRates[] = {44100.0, 48000.0, 88200.0, 96000.0, 192000.0};

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// A row name GoogleTest accepts, from its parts: name_of("Rms", 44100, "997Hz").
template <typename... Parts>
std::string name_of(const Parts&... parts) {
    std::ostringstream s;
    ((s << parts << '_'), ...);
    std::string text = s.str();
    text.pop_back();
    for (char& c : text)
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return text;
}

// A sine whose phase stays exact over long runs: the cycle count is reduced before the sine.
struct Tone {
    double frequency_hz;
    double amplitude = 1.0;
    double phase_rad = 0.0;
    double at(double rate_hz, long long n) const {
        const double cycles = std::fmod(frequency_hz * static_cast<double>(n), rate_hz) / rate_hz;
        return amplitude * std::sin(2.0 * std::numbers::pi * cycles + phase_rad);
    }
    double rms() const { return amplitude / std::numbers::sqrt2; }
};

// Plays `seconds` of signal(n) from sample `from`, in blocks of an awkward length.
long long play(ChannelMeter& meter, double seconds, const std::function<double(long long)>& signal,
               long long from = 0) {
    const auto count = static_cast<long long>(std::llround(seconds * meter.rate_hz()));
    std::vector<double> block(997);
    for (long long n = 0; n < count;) {
        const auto size = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(block.size()), count - n));
        for (std::size_t i = 0; i < size; ++i)
            block[i] = signal(from + n + static_cast<long long>(i));
        meter.process({block.data(), size});
        n += static_cast<long long>(size);
    }
    return from + count;
}

long long play_tone(ChannelMeter& meter, double seconds, const Tone& tone, long long from = 0) {
    return play(
        meter, seconds, [&](long long n) { return tone.at(meter.rate_hz(), n); }, from);
}

// A chain's reading after its tones: the level in dB re the first tone's RMS or in dBFS, the level
// of the first tone's component alone re its RMS, THD+N in dB, or the frequency in Hz, held to
// [low, high].
enum class Reading { LevelDb, LevelDbfs, LevelAtDb, ThdnDb, FrequencyHz };

struct ChainRow {
    std::string name;
    double rate_hz;
    ChainSettings chain;
    std::vector<Tone> tones;
    Reading reading;
    double low, high;
};

double reading_of(const ChainRow& row) {
    ChannelMeter meter(row.rate_hz);
    meter.configure(row.chain);
    play(meter, row.chain.detector == Detector::QuasiPeak ? 3.0 : 1.2, [&](long long n) {
        double sum = 0.0;
        for (const Tone& tone : row.tones)
            sum += tone.at(row.rate_hz, n);
        return sum;
    });
    switch (row.reading) {
        case Reading::LevelDb:
            return db(meter.level() / row.tones.front().rms());
        case Reading::LevelDbfs:
            return db(meter.level() * std::numbers::sqrt2);
        case Reading::LevelAtDb:
            return db(meter.level_at(row.tones.front().frequency_hz) / row.tones.front().rms());
        case Reading::ThdnDb:
            return db(meter.thdn_ratio());
        case Reading::FrequencyHz:
            return meter.frequency_hz();
    }
    return NAN;
}

class ChainReading : public testing::TestWithParam<ChainRow> {};

TEST_P(ChainReading, IsWithinTheRowsBounds) {
    const double reading = reading_of(GetParam());
    EXPECT_GE(reading, GetParam().low);
    EXPECT_LE(reading, GetParam().high);
}

// A CSV table of the standards' folder, as it stands.
std::vector<CsvRow> read_table(const std::string& file) {
    return testing_support::read_csv(std::string(VANTEL_MEASUREMENT_DIR) + "/" + file);
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
        for (const CsvRow& e : exact) {
            if (!wanted(e.number("nominal_hz")) || e.number("exact_hz") > 0.45 * rate)
                continue;
            const auto tolerance = std::ranges::find_if(table3, [&](const CsvRow& t) {
                return t.number("freq_hz") == e.number("nominal_hz");
            });
            if (tolerance == table3.end())
                throw std::runtime_error("no tolerance for " + e["nominal_hz"] + " Hz");
            const double f = e.number("exact_hz");
            rows.push_back(curve_row("A", Curve::A, rate, f,
                                     f >= 19.9 && f <= 20000.0 ? e.number("A_db_norm1k") : NAN,
                                     e.number("table3_A_db"), tolerance->number("tol_minus_db"),
                                     tolerance->number("tol_plus_db")));
        }
        // BS.468-4 Table 1, re 1 kHz and re 2 kHz. Rows must lie below 0.45 fs to be played.
        for (const auto& [file, name, curve, unity_hz] :
             {std::tuple{"itu468.csv", "Ccir468", Curve::Ccir468, 1000.0},
              std::tuple{"itu468_2khz_arm.csv", "Ccir468At2k", Curve::Ccir468At2k, 2000.0}}) {
            for (const CsvRow& t : read_table(file)) {
                const double f = t.number("freq_hz");
                if (!wanted(f))
                    continue;
                double minus = t.number("tol_minus_db"), plus = t.number("tol_plus_db");
                // The 6.3 kHz anchor has no tolerance: its value is good to its rounding.
                if (minus == 0.0 && plus == 0.0) {
                    minus = -0.05;
                    plus = 0.05;
                }
                if (f <= 0.45 * rate)
                    rows.push_back(curve_row(name, curve, rate, f,
                                             f <= 20000.0 ? ccir468_db(f, unity_hz) : NAN,
                                             t.number("nominal_db"), minus, plus));
            }
        }
        // The 2nd-order Butterworth high-pass at 400 Hz, within 0.01 dB.
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
                         RowName{});

// The rates beyond the usual five, from 8 kHz to the DXD rates and 768 kHz, hold the same
// tolerances as 48 kHz: every curve at the octave bands here, the rest in analysis.csv. A-weighting
// threw from 300 kHz up (a fitted zero inside its band), and the first reading ended the program.
constexpr double kMoreRates[] = {8000.0,   11025.0,  16000.0,  22050.0, 32000.0,
                                 352800.0, 384000.0, 705600.0, 768000.0};

INSTANTIATE_TEST_SUITE_P(MoreRates, ChainReading, testing::ValuesIn(curve_rows(kMoreRates, true)),
                         RowName{});

// Every rate from 8 kHz to 768 kHz, in 1 kHz steps and at the usual ones, has a design for every
// band and weighting, and its A curve keeps to the formula within 0.1 dB from 20 Hz to 20 kHz
// (or 0.45 fs), in 1/3-octave steps. Above 20 kHz it keeps falling, at least 12 dB an octave
// (24th-octave steps to 0.47 fs): the tables stop at 20 kHz, and a fitted zero once rose there.
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
        const double step = std::pow(2.0, 1.0 / 24.0);
        for (double f = 20000.0; f * step <= 0.47 * rate; f *= step) {
            EXPECT_LT(a.gain_db(f * step), a.gain_db(f)) << rate << " Hz rises at " << f << " Hz";
            if (f * 2.0 <= 0.47 * rate) {
                EXPECT_LE(a.gain_db(f * 2.0), a.gain_db(f) - 12.0) << rate << " Hz, from " << f;
            }
        }
    }
}

// The rows of analysis.csv, each at every rate, band, curve, frequency and phase it lists (the
// file says how).
std::vector<ChainRow> analysis_rows() {
    const std::map<std::string, std::vector<double>> rate_sets = {
        {"usual", {std::begin(kRates), std::end(kRates)}},
        {"sweep", {44100.0, 48000.0, 96000.0}},
        {"more", {std::begin(kMoreRates), std::end(kMoreRates)}}};
    const std::map<std::string, Band> bands = {{"wide", Band::Wide}, {"audio", Band::Audio}};
    const std::map<std::string, Curve> curves = {{"flat", Curve::Flat},
                                                 {"a", Curve::A},
                                                 {"highpass400", Curve::Highpass400},
                                                 {"ccir468", Curve::Ccir468},
                                                 {"ccir468at2k", Curve::Ccir468At2k}};
    const std::map<std::string, Detector> detectors = {{"rms", Detector::Rms},
                                                       {"true_peak", Detector::TruePeak},
                                                       {"sample_peak", Detector::SamplePeak},
                                                       {"quasi_peak", Detector::QuasiPeak}};
    const std::map<std::string, Reading> readings = {{"level_db", Reading::LevelDb},
                                                     {"level_dbfs", Reading::LevelDbfs},
                                                     {"level_at_db", Reading::LevelAtDb},
                                                     {"thdn_db", Reading::ThdnDb},
                                                     {"frequency_ppm", Reading::FrequencyHz}};
    std::vector<ChainRow> rows;
    for (const CsvRow& t : testing_support::csv_beside("analysis.csv")) {
        const double up_to_hz = t["up_to_hz"].empty() ? INFINITY : t.number("up_to_hz");
        // A part of the row's name for each column that lists more than one value.
        const auto part = [&](const char* column, const std::string& value) {
            return words(t[column]).size() > 1 ? "_" + value : std::string();
        };
        for (double rate : rate_sets.at(t["rates"]))
            for (const std::string& band : words(t["bands"]))
                for (const std::string& curve : words(t["curves"]))
                    for (const std::string& f_text : words(t["frequencies"]))
                        for (const std::string& phase : words(t["phases_deg"])) {
                            const double f = f_text.starts_with("fs/")
                                                 ? rate / std::stod(f_text.substr(3))
                                                 : std::stod(f_text);
                            std::vector<Tone> tones;
                            for (const std::string& tone : words(t["tones"])) {
                                const auto field = words(tone, ':');
                                const double frequency =
                                    !field[0].ends_with('F') ? std::stod(field[0])
                                    : field[0] == "F"        ? f
                                                             : std::stod(field[0]) * f;
                                const std::string degrees = field.size() > 2 ? field[2] : "0";
                                tones.push_back({frequency, std::stod(field[1]),
                                                 std::stod(degrees == "P" ? phase : degrees) *
                                                     std::numbers::pi / 180.0});
                            }
                            if (std::ranges::any_of(tones, [&](const Tone& tone) {
                                    return tone.frequency_hz >= rate / 2.0 ||
                                           tone.frequency_hz > up_to_hz;
                                }))
                                continue;
                            const Reading reading = readings.at(t["reading"]);
                            // Frequencies are held in ppm of the first tone's.
                            const double scale = reading == Reading::FrequencyHz
                                                     ? tones.front().frequency_hz * 1e-6
                                                     : 1.0;
                            const double centre =
                                reading == Reading::FrequencyHz ? tones.front().frequency_hz : 0.0;
                            rows.emplace_back(
                                name_of(t.name + "_" + std::to_string(static_cast<int>(rate)) +
                                        part("bands", band) + part("curves", curve) +
                                        part("frequencies", f_text) + part("phases_deg", phase)),
                                rate,
                                ChainSettings{bands.at(band), curves.at(curve),
                                              detectors.at(t["detector"])},
                                tones, reading, centre + scale * t.number("low"),
                                centre + scale * t.number("high"));
                        }
    }

    return rows;
}

INSTANTIATE_TEST_SUITE_P(Analysis, ChainReading, testing::ValuesIn(analysis_rows()), RowName{});
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
    for (double rate : {7999.0, 0.0, -48000.0, double{NAN}, 768001.0, 1e12, double{INFINITY}})
        EXPECT_THAT(
            thrown<std::invalid_argument>([&] { ChannelMeter{rate}; }),
            testing::HasSubstr(rate > 768000.0 ? "above the 768000 Hz" : "below the 8000 Hz"))
            << rate;
    EXPECT_NO_THROW(ChannelMeter{8000.0});
    EXPECT_NO_THROW(ChannelMeter{768000.0});
}

// BS.468-4 Tables 2 and 3: quasi-peak readings of 5 kHz tone bursts against the steady tone's.
struct BurstRow {
    std::string name;
    double rate_hz, burst_ms, bursts_per_s, lower_db, upper_db;
};

std::vector<BurstRow> burst_rows() {
    std::vector<BurstRow> rows;
    for (double rate : kRates) {
        for (const CsvRow& t : read_table("qpeak_tone_burst.csv")) {
            const std::string& per_s = t["bursts_per_s"];
            rows.push_back(
                {name_of(t["table"], t["burst_ms"] + "ms",
                         per_s.empty() ? "once" : per_s + "_per_s", static_cast<int>(rate)),
                 rate, t.number("burst_ms"), per_s.empty() ? 0.0 : std::stod(per_s),
                 t.number("lower_db"), t.number("upper_db")});
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

INSTANTIATE_TEST_SUITE_P(Bs468, ToneBurst, testing::ValuesIn(burst_rows()), RowName{});

}  // namespace
}  // namespace vantel::measure::test
