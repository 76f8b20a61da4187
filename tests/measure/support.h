// SPDX-License-Identifier: MIT
#pragma once

// Signals and tables for the engine's tests: tones played through a whole ChannelMeter, and the
// standards' CSV files read as they stand.

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

// A sine whose phase stays exact over long runs: the cycle count is reduced before the sine.
struct Tone {
    double frequency_hz;
    double amplitude = 1.0;
    double phase_rad = 0.0;
    double at(double rate_hz, long long n) const {
        const double cycles = std::fmod(frequency_hz * static_cast<double>(n), rate_hz) / rate_hz;
        return amplitude * std::sin(2.0 * std::numbers::pi * cycles + phase_rad);
    }
};

// Plays `seconds` of a signal (a function of the sample index) into the meter, in blocks of an
// awkward length so block edges fall anywhere; `from` is the first sample's index.
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
    const double rate = meter.rate_hz();
    return play(
        meter, seconds, [&](long long n) { return tone.at(rate, n); }, from);
}

// One CSV file of the shared measurement folder, as rows of named text fields.
inline std::vector<std::map<std::string, std::string>> read_table(const std::string& file) {
    const std::string path = std::string(VANTEL_MEASUREMENT_DIR) + "/" + file;
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    auto split = [](const std::string& line) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        for (std::string f; std::getline(s, f, ',');)
            fields.push_back(f);
        if (!line.empty() && line.back() == ',')
            fields.emplace_back();
        return fields;
    };
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> names = split(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        const std::vector<std::string> fields = split(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < names.size() && i < fields.size(); ++i)
            row[names[i]] = fields[i];
        rows.push_back(row);
    }
    return rows;
}

// "+3.0", "-Infinity", "" (none given) as numbers.
inline double number(const std::string& text) {
    if (text == "-Infinity")
        return -INFINITY;
    if (text == "Infinity" || text == "+Infinity")
        return INFINITY;
    return std::stod(text);
}

// A name that GoogleTest accepts: letters, digits and underscores.
inline std::string identifier(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return text;
}

}  // namespace vantel::measure::test
