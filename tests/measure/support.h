// SPDX-License-Identifier: MIT
#pragma once

// Tones played through a whole ChannelMeter, one reading held between bounds (ChainRow), and
// the standards' CSV files read as they stand.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "measure/measure.h"

namespace vantel::measure::test {

inline constexpr double kRates[] = {44100.0, 48000.0, 88200.0, 96000.0, 192000.0};

inline double db(double ratio) {
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

inline std::string rate_name(const testing::TestParamInfo<double>& rate) {
    return name_of("at", static_cast<int>(rate.param));
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
inline long long play(ChannelMeter& meter, double seconds,
                      const std::function<double(long long)>& signal, long long from = 0) {
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

inline long long play_tone(ChannelMeter& meter, double seconds, const Tone& tone,
                           long long from = 0) {
    return play(
        meter, seconds, [&](long long n) { return tone.at(meter.rate_hz(), n); }, from);
}

// A chain's reading after its tones: the level in dB re the first tone's RMS, THD+N in dB, or
// the frequency in Hz, held to [low, high].
enum class Reading { LevelDb, ThdnDb, FrequencyHz };

struct ChainRow {
    std::string name;
    double rate_hz;
    ChainSettings chain;
    std::vector<Tone> tones;
    Reading reading;
    double low, high;
    friend void PrintTo(const ChainRow& row, std::ostream* os) { *os << row.name; }
};

inline double reading_of(const ChainRow& row) {
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
        case Reading::ThdnDb:
            return db(meter.thdn_ratio());
        case Reading::FrequencyHz:
            return meter.frequency_hz();
    }
    return NAN;
}

// Defined once (weighting_test.cpp); each file instantiates it with its own rows.
class ChainReading : public testing::TestWithParam<ChainRow> {};

// A CSV table of the standards' folder, as rows of named text fields.
using TableRow = std::map<std::string, std::string>;
inline std::vector<TableRow> read_table(const std::string& file) {
    std::ifstream in(std::string(VANTEL_MEASUREMENT_DIR) + "/" + file);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    auto fields = [](const std::string& line) {
        std::vector<std::string> out(1);
        for (char c : line) {
            if (c == ',')
                out.emplace_back();
            else if (c != '\r')
                out.back() += c;
        }
        return out;
    };
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> names = fields(line);
    std::vector<TableRow> rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> values = fields(line);
        for (std::size_t i = 0; !line.empty() && i < names.size() && i < values.size(); ++i)
            (i == 0 ? rows.emplace_back() : rows.back())[names[i]] = values[i];
    }
    return rows;
}

}  // namespace vantel::measure::test
