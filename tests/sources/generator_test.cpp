// SPDX-License-Identifier: MIT
// The generator's settings: refusals with their reasons, the setting kept; and its sine against
// std::sin, wherever the window lies.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "row_name.h"
#include "sources/generator.h"

namespace vantel::source {
namespace {

enum class Setting { Frequency, FrequencyAtRate, Level };

struct RefusalRow {
    const char* name;
    Setting setting;
    double value;
    double rate_hz;  // for FrequencyAtRate
    const char* reason;
};

void PrintTo(const RefusalRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr RefusalRow kRefusals[] = {
    {"frequency_nan", Setting::Frequency, kNaN, 0.0, "not a number"},
    {"frequency_infinite", Setting::Frequency, kInf, 0.0, "infinite"},
    {"frequency_minus_infinite", Setting::Frequency, -kInf, 0.0, "infinite"},
    {"frequency_negative", Setting::Frequency, -1000.0, 0.0, "-1000 Hz is not above 0 Hz"},
    {"frequency_zero", Setting::Frequency, 0.0, 0.0, "0 Hz is not above 0 Hz"},
    {"frequency_at_nyquist_48k", Setting::FrequencyAtRate, 24000.0, 48000.0,
     "24000 Hz is at or above half the 48000 Hz sample rate"},
    {"frequency_above_nyquist_44k1", Setting::FrequencyAtRate, 30000.0, 44100.0,
     "above half the 44100 Hz sample rate (22050 Hz)"},
    {"frequency_nan_at_rate", Setting::FrequencyAtRate, kNaN, 48000.0, "not a number"},
    {"frequency_without_a_rate", Setting::FrequencyAtRate, 1000.0, kNaN, "against a rate"},
    {"level_nan", Setting::Level, kNaN, 0.0, "not a number"},
    {"level_infinite", Setting::Level, kInf, 0.0, "infinite"},
    {"level_negative", Setting::Level, -0.5, 0.0, "-0.5 V is negative"},
    {"level_absurd", Setting::Level, 100.5, 0.0, "100.5 V RMS is above the 100 V RMS"},
};

class GeneratorRefusal : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(GeneratorRefusal, SaysWhyAndKeepsTheSetting) {
    const RefusalRow& row = GetParam();
    Generator g;
    g.set_frequency_hz(1234.5, 48000.0);
    g.set_level_v_rms(2.5);
    try {
        switch (row.setting) {
            case Setting::Frequency:
                g.set_frequency_hz(row.value);
                break;
            case Setting::FrequencyAtRate:
                g.set_frequency_hz(row.value, row.rate_hz);
                break;
            case Setting::Level:
                g.set_level_v_rms(row.value);
                break;
        }
        FAIL() << "accepted " << row.value;
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(row.reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(g.frequency_hz(), 1234.5);
    EXPECT_EQ(g.level_v_rms(), 2.5);
}

INSTANTIATE_TEST_SUITE_P(Generator, GeneratorRefusal, ::testing::ValuesIn(kRefusals),
                         testing_support::RowName{});

TEST(Generator, StartsAtOneKilohertzOneVoltOnAndTakesItsLimits) {
    Generator g;
    EXPECT_EQ(g.frequency_hz(), 1000.0);
    EXPECT_EQ(g.level_v_rms(), 1.0);
    EXPECT_TRUE(g.on());
    EXPECT_TRUE(g.output_on(0) && g.output_on(1));
    g.set_frequency_hz(23999.0, 48000.0);
    g.set_level_v_rms(100.0);
    g.set_level_v_rms(0.0);
    EXPECT_NO_THROW(Generator::check_frequency(95999.0, 192000.0));
    EXPECT_THROW(Generator::check_frequency(96000.0, 192000.0), std::invalid_argument);
    EXPECT_THROW(g.set_output_on(2, true), std::out_of_range);
}

// The sine is phase zero at frame 0 whatever window is asked for; std::sin is the reference.
TEST(Generator, RendersTheSineOfTheAbsoluteFrame) {
    Generator g;
    g.set_frequency_hz(997.0);
    g.set_level_v_rms(3.0);
    for (const std::int64_t first :
         {std::int64_t{0}, std::int64_t{12345}, std::int64_t{48000} * 86400 * 7}) {
        std::vector<double> v(2000);
        g.render_v(first, 48000.0, v);
        double worst = 0.0;
        for (std::size_t i = 0; i < v.size(); ++i) {
            // The phase in turns, reduced exactly in integers before the sine: 997 n / 48000.
            const auto n = first + static_cast<std::int64_t>(i);
            const double turns = static_cast<double>((997 * n) % 48000) / 48000.0;
            const double expected =
                3.0 * std::numbers::sqrt2 * std::sin(2 * std::numbers::pi * turns);
            worst = std::max(worst, std::abs(v[i] - expected));
        }
        // The step is a whole number of 2^-64 turns, so by frame n the phase may be off by
        // n * 2^-64 turns (1.6e-9 after a week); the sine itself is good to 1e-15.
        const double phase_error_rad =
            2 * std::numbers::pi * static_cast<double>(first + 2000) * 0x1.0p-64;
        EXPECT_LT(worst, 3.0 * std::numbers::sqrt2 * phase_error_rad + 1e-13)
            << "from frame " << first;
    }
    g.set_on(false);
    std::vector<double> off(10, 1.0);
    g.render_v(0, 48000.0, off);
    EXPECT_EQ(off, std::vector<double>(10, 0.0));
}

}  // namespace
}  // namespace vantel::source
