// SPDX-License-Identifier: MIT
// Sound files through the file source: known samples written with libsndfile in each format
// come back in full-scale units, looped; every way a file can be unusable is refused by name.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "measure_signal.h"
#include "row_name.h"
#include "sources/file_source.h"
#include "sources/open_source.h"

namespace vantel::source {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;

// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("vantel_sources_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// Integer samples written as 32-bit ints, which libsndfile shifts down to the file's width, so
// that the expected doubles are exact: a b-bit sample s reads s / 2^(b-1).
struct Written {
    std::vector<double> expected;  // interleaved, full-scale units
    int channels;
};

Written write_file(const std::string& path, int format, int channels, int rate_hz, int frames) {
    SF_INFO info{};
    info.samplerate = rate_hz;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    const int bits = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16   ? 16
                     : (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 24
                                                                        : 32;
    const bool floating = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
    Written w{std::vector<double>(static_cast<std::size_t>(frames * channels)), channels};
    std::vector<int> ints(w.expected.size());
    std::vector<float> floats(w.expected.size());
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < w.expected.size(); ++i) {
        state = state * 1664525u + 1013904223u;  // any values, full range in both signs
        const auto sample = static_cast<std::int32_t>(state) >> (32 - bits);
        const double unit = std::ldexp(static_cast<double>(sample), 1 - bits);
        ints[i] = static_cast<int>(static_cast<std::uint32_t>(sample) << (32 - bits));
        floats[i] = static_cast<float>(unit);
        w.expected[i] = floating ? static_cast<double>(floats[i]) : unit;
    }
    if (floating)
        sf_writef_float(file, floats.data(), frames);
    else
        sf_writef_int(file, ints.data(), frames);
    sf_close(file);
    return w;
}

struct FormatRow {
    const char* name;
    int format;
    int channels;
    int rate_hz;
    bool warns;  // more than two channels
};

void PrintTo(const FormatRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr int kFrames = 10007;  // crosses two block boundaries, ends mid-block

constexpr FormatRow kFormats[] = {
    {"wav_16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, false},
    {"wav_24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 96000, false},
    {"wav_32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 44100, false},
    {"wav_float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, false},
    {"flac_16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, false},
    {"flac_24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 192000, false},
    {"aiff_16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 8000, false},
    {"wav_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, false},
    {"wav_4_channels", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 4, 48000, true},
};

class FileFormat : public ::testing::TestWithParam<FormatRow> {};

TEST_P(FileFormat, PlaysTheSamplesInFullScaleUnitsAndLoops) {
    const FormatRow& row = GetParam();
    TempDir dir;
    const std::string path = dir.file(std::string(row.name) + ".snd");
    const Written w = write_file(path, row.format, row.channels, row.rate_hz, kFrames);
    FakeClock clock;
    auto source = open_source(path, nullptr, {1, clock.clock(), 10.0});
    EXPECT_EQ(source->rate_hz(), row.rate_hz);
    EXPECT_TRUE(source->locked());
    EXPECT_EQ(source->warnings().size(), row.warns ? 1u : 0u);
    if (row.warns) {
        EXPECT_NE(source->warnings()[0].find("4 channels"), std::string::npos);
    }
    EXPECT_NE(source->describe().find(path), std::string::npos);

    clock.set(3.5 * kFrames / row.rate_hz);  // three and a half times through the file
    const std::int64_t produced = source->frames_now();
    ASSERT_GE(produced, 3 * kFrames);
    for (int ch = 0; ch < kChannels; ++ch) {
        // A mono file feeds both channels; a wider one gives its first two.
        const int file_ch = row.channels == 1 ? 0 : ch;
        std::vector<double> got(static_cast<std::size_t>(produced + 10));
        source->read(ch, 0, got);
        std::size_t wrong = 0;
        for (std::int64_t f = 0; f < produced; ++f) {
            const double expected =
                w.expected[static_cast<std::size_t>((f % kFrames) * row.channels + file_ch)];
            wrong += got[static_cast<std::size_t>(f)] != expected;
        }
        EXPECT_EQ(wrong, 0u) << "channel " << ch;
        EXPECT_EQ(got.back(), 0.0) << "not produced yet";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, FileFormat, ::testing::ValuesIn(kFormats),
                         testing_support::RowName{});

struct BadFileRow {
    const char* name;
    std::function<std::string(const TempDir&)> make;  // returns the path to open
    const char* reason;
};

void PrintTo(const BadFileRow& row, std::ostream* os) {
    *os << row.name;
}

std::string good_wav(const TempDir& dir, int rate_hz = 48000,
                     int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    const std::string path = dir.file("good.snd");
    write_file(path, format, 2, rate_hz, 100000);
    return path;
}

std::string cut(const std::string& path, std::uintmax_t bytes) {
    fs::resize_file(path, bytes);
    return path;
}

const BadFileRow kBadFiles[] = {
    {"missing", [](const TempDir& d) { return d.file("nothing_here.wav"); }, "no such file"},
    {"directory",
     [](const TempDir& d) {
         fs::create_directory(d.file("folder.wav"));
         return d.file("folder.wav");
     },
     "is a directory"},
    {"empty",
     [](const TempDir& d) {
         std::ofstream(d.file("empty.wav"));
         return d.file("empty.wav");
     },
     "empty (0 bytes)"},
    {"not_sound",
     [](const TempDir& d) {
         std::ofstream(d.file("notes.wav")) << "These are notes, not sound.\n";
         return d.file("notes.wav");
     },
     "libsndfile cannot read it"},
    {"corrupt_header",
     [](const TempDir& d) {
         const std::string path = good_wav(d);
         std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(12);
         f << "garbagegarbagegarbagegarbage";
         return path;
     },
     "libsndfile cannot read it"},
    {"truncated_wav", [](const TempDir& d) { return cut(good_wav(d), 200000); },
     // 100000 frames of 4 bytes and the 36 header bytes after the RIFF size; 200000 - 8 left.
     "truncated: its RIFF chunk declares 400036 bytes but the file holds 199992"},
    {"truncated_aiff",
     [](const TempDir& d) {
         return cut(good_wav(d, 48000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16), 150000);
     },
     "truncated"},
    {"truncated_flac",
     [](const TempDir& d) {
         return cut(good_wav(d, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16), 100000);
     },
     "corrupt or truncated"},
    {"rate_below_8k", [](const TempDir& d) { return good_wav(d, 4000); },
     "sample rate 4000 Hz is below the lowest the analyser measures at, 8000 Hz"},
};

class BadFile : public ::testing::TestWithParam<BadFileRow> {};

TEST_P(BadFile, IsRefusedWithItsNameAndTheReason) {
    TempDir dir;
    const std::string path = GetParam().make(dir);
    try {
        open_source(path, std::make_shared<Generator>());
        FAIL() << "opened " << path;
    } catch (const SourceError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, BadFile, ::testing::ValuesIn(kBadFiles),
                         testing_support::RowName{});

TEST(OpenSource, NamesItsGeneratedSourcesAndRefusesAnEmptyName) {
    auto generator = std::make_shared<Generator>();
    EXPECT_EQ(open_source("sim", generator)->describe().rfind("sim: ", 0), 0u);
    EXPECT_EQ(open_source("loopback", generator)->describe().rfind("loopback: ", 0), 0u);
    EXPECT_THROW(open_source("", generator), SourceError);
    EXPECT_THROW(open_source("sim", nullptr), std::invalid_argument);
}

// A file damaged after it was opened (here cut short while playing) unlocks the source and
// says where, instead of playing garbage or stopping the program.
TEST(FileSource, FileThatStopsDecodingUnlocksTheSource) {
    TempDir dir;
    const std::string path = good_wav(dir);  // 100000 frames
    FakeClock clock;
    FileSource source(path, clock.clock());
    clock.set(2.0);
    cut(path, 44 + 4 * 20000);
    std::vector<double> v(4096);
    source.read(kChannelA, 40000, v);
    EXPECT_FALSE(source.locked());
    EXPECT_EQ(v, std::vector<double>(4096, 0.0));
    ASSERT_EQ(source.warnings().size(), 1u);
    EXPECT_NE(source.warnings()[0].find("stopped decoding at frame 36864"), std::string::npos)
        << source.warnings()[0];
}

}  // namespace
}  // namespace vantel::source
