// SPDX-License-Identifier: MIT
// The generator's settings (limits taken, refusals with reasons, the old setting kept), its sine
// against std::sin wherever the window lies, and a live input's history ring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <thread>
#include <vector>

#include "row_name.h"
#include "sources/frame_ring.h"
#include "sources/generator.h"

namespace vantel::source {
namespace {

enum class Setting { Frequency, FrequencyAtRate, Level };

struct SettingRow {
    const char* name;
    Setting setting;
    double value;
    double rate_hz;      // for FrequencyAtRate
    const char* reason;  // null: taken
};
void PrintTo(const SettingRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr auto kF = Setting::Frequency;
constexpr auto kFAt = Setting::FrequencyAtRate;
constexpr auto kL = Setting::Level;

constexpr SettingRow kSettings[] = {
    {"frequency_just_below_nyquist_48k", kFAt, 23999.0, 48000.0, nullptr},
    {"level_zero", kL, 0.0, 0.0, nullptr},
    {"level_at_most", kL, 100.0, 0.0, nullptr},
    {"frequency_nan", kF, kNaN, 0.0, "frequency is not a number"},
    {"frequency_infinite", kF, kInf, 0.0, "frequency is infinite"},
    {"frequency_minus_infinite", kF, -kInf, 0.0, "frequency is infinite"},
    {"frequency_zero", kF, 0.0, 0.0, "0 Hz is not above 0 Hz"},
    {"frequency_at_nyquist_48k", kFAt, 24000.0, 48000.0, "24000 Hz is at or above half the 48000"},
    {"frequency_above_nyquist_44k1", kFAt, 30000.0, 44100.0,
     "half the 44100 Hz sample rate (22050"},
    {"frequency_without_a_rate", kFAt, 1000.0, kNaN, "against a rate of nan Hz"},
    {"level_nan", kL, kNaN, 0.0, "level is not a number"},
    {"level_infinite", kL, kInf, 0.0, "level is infinite"},
    {"level_negative", kL, -0.5, 0.0, "-0.5 V is negative"},
    {"level_absurd", kL, 100.5, 0.0, "100.5 V RMS is above the 100 V RMS"},
};

class GeneratorSetting : public ::testing::TestWithParam<SettingRow> {};

TEST_P(GeneratorSetting, IsTakenOrRefusedSayingWhyKeepingTheOld) {
    const SettingRow& row = GetParam();
    Generator g;
    g.set_frequency_hz(1234.5, 48000.0);
    g.set_level_v_rms(2.5);
    try {
        if (row.setting == kF)
            g.set_frequency_hz(row.value);
        else if (row.setting == kFAt)
            g.set_frequency_hz(row.value, row.rate_hz);
        else
            g.set_level_v_rms(row.value);
        ASSERT_EQ(row.reason, nullptr) << "accepted " << row.value;
        EXPECT_EQ(row.setting == kL ? g.level_v_rms() : g.frequency_hz(), row.value);
        return;
    } catch (const std::invalid_argument& e) {
        ASSERT_NE(row.reason, nullptr) << e.what();
        EXPECT_NE(std::string(e.what()).find(row.reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(g.frequency_hz(), 1234.5);
    EXPECT_EQ(g.level_v_rms(), 2.5);
}

INSTANTIATE_TEST_SUITE_P(Generator, GeneratorSetting, ::testing::ValuesIn(kSettings),
                         testing_support::RowName{});

// Phase zero at frame 0 whatever window is asked for.
TEST(Generator, RendersTheSineOfTheAbsoluteFrame) {
    Generator g;
    g.set_frequency_hz(997.0);
    g.set_level_v_rms(3.0);
    for (const std::int64_t first : {0L, 12345L, 48000L * 86400 * 7}) {
        std::vector<double> v(2000);
        g.render_v(first, 48000.0, v);
        double worst = 0.0;
        for (std::size_t i = 0; i < v.size(); ++i) {
            const auto n = first + static_cast<std::int64_t>(i);
            const double turns = static_cast<double>((997 * n) % 48000) / 48000.0;
            worst = std::max(worst, std::abs(v[i] - 3.0 * std::numbers::sqrt2 *
                                                        std::sin(2 * std::numbers::pi * turns)));
        }
        // The step is a whole number of 2^-64 turns, so by frame n the phase may be off by
        // n * 2^-64 turns (1.6e-9 after a week); the sine itself is good to 1e-15.
        const double phase_error_rad =
            2 * std::numbers::pi * static_cast<double>(first + 2000) * 0x1.0p-64;
        EXPECT_LT(worst, 3.0 * std::numbers::sqrt2 * phase_error_rad + 1e-13) << "from " << first;
    }
    EXPECT_THROW(g.set_output_on(2, true), std::out_of_range);
    g.set_on(false);
    std::vector<double> off(10, 1.0);
    g.render_v(0, 48000.0, off);
    EXPECT_EQ(off, std::vector<double>(10, 0.0));
}

// In the history ring, frame f carries 1 + f mod 2^20: exact in a float and never silence.
float mark(std::int64_t frame) {
    return static_cast<float>(1 + (frame & 0xfffff));
}

void write_marks(FrameRing& ring, std::int64_t first, std::size_t frames) {
    std::vector<float> a(frames), b(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        a[i] = mark(first + static_cast<std::int64_t>(i));
        b[i] = -a[i];
    }
    ring.write(a, b);
}

TEST(FrameRing, ReadsWhatItHoldsAndSilenceBeyond) {
    FrameRing ring(1000);
    ASSERT_EQ(ring.capacity_frames(), 1024);
    for (int period = 0; period < 5; ++period)
        write_marks(ring, period * 256, 256);  // 1280 frames: the first 256 are gone
    EXPECT_EQ(ring.frames_written(), 1280);
    std::vector<double> out(1100);
    ring.read(1, 200, out);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int64_t frame = 200 + static_cast<std::int64_t>(i);
        const double expected = frame < 256 || frame >= 1280 ? 0.0 : -mark(frame);
        ASSERT_EQ(out[i], expected) << "frame " << frame;
    }
}

TEST(FrameRing, ReaderNeverSeesAnotherFramesSampleWhileTheWriterRuns) {
    FrameRing ring(4096);
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        std::int64_t frame = 0;
        while (!stop.load()) {
            write_marks(ring, frame, 64);
            frame += 64;
        }
    });
    // A loaded machine may run the writer late or in bursts: read once it has filled the ring,
    // until samples have been seen.
    while (ring.frames_written() < 4096)
        std::this_thread::yield();
    std::vector<double> out(4096);
    std::int64_t checked = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int read = 0; read < 2000 || (checked == 0 && std::chrono::steady_clock::now() < give_up);
         ++read) {
        // The oldest window it holds, where overwriting happens, and a newer one in turn.
        const std::int64_t first = ring.frames_written() - (read % 2 ? 4096 : 2048);
        ring.read(0, first, out);
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] != 0.0) {
                ASSERT_EQ(out[i], mark(first + static_cast<std::int64_t>(i)));
                ++checked;
            }
        }
    }
    stop = true;
    writer.join();
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace vantel::source
