// SPDX-License-Identifier: MIT
// Sound files written with libsndfile come back in full-scale units, looped; an unusable one is
// refused by name and reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>

#include "measure_signal.h"
#include "row_name.h"
#include "sources/file_source.h"
#include "sources/open_source.h"

namespace vantel::source {
namespace {

namespace fs = std::filesystem;
using testing_support::thrown;

// A fresh directory for each test.
class Files : public ::testing::Test {
public:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    const fs::path dir = fs::temp_directory_path() /
                         ("vantel_sources_" + std::to_string(::getpid()) + "_" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// Writes `frames` of values over the full range and returns them (interleaved) as they must read
// back: a b-bit sample s is s / 2^(b-1) of full scale; a float sample is itself.
std::vector<double> write_file(const std::string& path, int format, int channels, int rate_hz,
                               int frames) {
    SF_INFO info{0, rate_hz, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    const int sub = format & SF_FORMAT_SUBMASK;
    const int bits = sub == SF_FORMAT_PCM_16 ? 16 : sub == SF_FORMAT_PCM_24 ? 24 : 32;
    std::vector<double> expected(static_cast<std::size_t>(frames * channels));
    std::vector<int> ints(expected.size());
    std::vector<float> floats(expected.size());
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const auto sample = static_cast<std::int32_t>(state) >> (32 - bits);
        ints[i] = static_cast<int>(static_cast<std::uint32_t>(sample) << (32 - bits));
        floats[i] = static_cast<float>(std::ldexp(sample, 1 - bits));
        expected[i] = sub == SF_FORMAT_FLOAT ? floats[i] : std::ldexp(sample, 1 - bits);
    }
    if (sub == SF_FORMAT_FLOAT)
        sf_writef_float(file, floats.data(), frames);
    else
        sf_writef_int(file, ints.data(), frames);
    sf_close(file);
    return expected;
}

struct FormatRow {
    const char* name;
    int format, channels, rate_hz;
};
void PrintTo(const FormatRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr FormatRow kFormats[] = {
    {"wav_16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000},
    {"wav_24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 96000},
    {"wav_32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, 44100},
    {"wav_float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000},
    {"flac_16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100},
    {"flac_24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 192000},
    {"aiff_16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 8000},
    {"wav_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000},
    {"wav_4_channels", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 4, 48000},
    {"wav_float_768k", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 768000},
};

class FileFormat : public Files, public ::testing::WithParamInterface<FormatRow> {};

TEST_P(FileFormat, PlaysTheSamplesInFullScaleUnitsAndLoops) {
    const FormatRow& row = GetParam();
    const std::string path = file(row.name);
    constexpr int kFrames = 10007;  // crosses two block boundaries, ends mid-block
    const auto expected = write_file(path, row.format, row.channels, row.rate_hz, kFrames);
    testing::FakeClock clock;
    auto source = open_source(path, nullptr, {1, clock.clock(), 10.0});
    EXPECT_EQ(source->rate_hz(), row.rate_hz);
    EXPECT_NE(source->describe().find(path), std::string::npos);
    const auto warnings = source->warnings();
    EXPECT_EQ(warnings.size(), row.channels > 2 ? 1u : 0u);
    for (const std::string& warning : warnings)
        EXPECT_THAT(warning, ::testing::HasSubstr("has " + std::to_string(row.channels) +
                                                  " channels; playing the first two"));

    clock.set(3.5 * kFrames / row.rate_hz);  // three and a half times through the file
    const std::int64_t produced = source->frames_now();
    for (int ch = 0; ch < kChannels; ++ch) {
        const int file_ch = row.channels == 1 ? 0 : ch;  // mono feeds both
        std::vector<double> got(static_cast<std::size_t>(produced + 10));
        source->read(ch, 0, got);
        std::size_t wrong = 0;
        for (std::int64_t f = 0; f < produced; ++f)
            wrong += got[f] != expected[(f % kFrames) * row.channels + file_ch];
        EXPECT_EQ(wrong, 0u) << "channel " << ch << " over " << produced << " frames";
        EXPECT_EQ(got.back(), 0.0) << "not produced yet";
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, FileFormat, ::testing::ValuesIn(kFormats),
                         testing_support::RowName{});

// A 100000-frame stereo file at `rate_hz`.
std::string good(const Files& f, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                 int rate_hz = 48000) {
    write_file(f.file("good"), format, 2, rate_hz, 100000);
    return f.file("good");
}
std::string cut(const std::string& path, std::uintmax_t bytes) {
    fs::resize_file(path, bytes);
    return path;
}

struct BadFileRow {
    const char* name;
    std::function<std::string(const Files&)> make;  // gives the path to open
    const char* reason;
};
void PrintTo(const BadFileRow& row, std::ostream* os) {
    *os << row.name;
}

const BadFileRow kBadFiles[] = {
    {"missing", [](const Files& f) { return f.file("nothing_here.wav"); }, "no such file"},
    {"directory", [](const Files& f) { return f.file(""); }, "it is a directory"},
    {"empty", [](const Files& f) { return std::ofstream(f.file("e")), f.file("e"); },
     "the file is empty (0 bytes)"},
    {"not_sound",
     [](const Files& f) { return std::ofstream(f.file("t")) << "Notes.\n", f.file("t"); },
     "libsndfile cannot read it (corrupt, truncated or not a sound format it knows): Format not"},
    {"corrupt_header",
     [](const Files& f) {
         std::fstream(good(f), std::ios::in | std::ios::out | std::ios::binary).seekp(12)
             << "garbagegarbagegarbagegarbage";
         return f.file("good");
     },
     "libsndfile cannot read it"},
    // 100000 frames of 4 bytes and 36 header bytes after the RIFF size; 200000 - 8 left.
    {"truncated_wav", [](const Files& f) { return cut(good(f), 200000); },
     "truncated: its RIFF chunk declares 400036 bytes but the file holds 199992"},
    {"truncated_aiff",
     [](const Files& f) { return cut(good(f, SF_FORMAT_AIFF | SF_FORMAT_PCM_16), 150000); },
     "truncated: its FORM chunk declares"},
    {"truncated_flac",
     [](const Files& f) { return cut(good(f, SF_FORMAT_FLAC | SF_FORMAT_PCM_16), 100000); },
     "corrupt or truncated: file"},
    {"rate_below_8k",
     [](const Files& f) { return good(f, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000); },
     "its sample rate 4000 Hz is below the lowest the analyser measures at, 8000 Hz"},
    // Refused before anything is sized by the rate: 2^31 - 1 Hz once ran to 18.7 GB.
    {"rate_above_768k",
     [](const Files& f) { return good(f, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000000); },
     "its sample rate 1000000 Hz is above the highest the analyser measures at, 768000 Hz"},
    {"rate_of_a_huge_header",
     [](const Files& f) { return good(f, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2147483647); },
     "its sample rate 2147483647 Hz is above the highest the analyser measures at, 768000 Hz"},
};

class BadFile : public Files, public ::testing::WithParamInterface<BadFileRow> {};

TEST_P(BadFile, IsRefusedWithItsNameAndTheReason) {
    const std::string path = GetParam().make(*this);
    EXPECT_THAT(thrown<SourceError>([&] { open_source(path, std::make_shared<Generator>()); }),
                ::testing::HasSubstr("cannot open file \"" + path + "\": " + GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(Sources, BadFile, ::testing::ValuesIn(kBadFiles),
                         testing_support::RowName{});

TEST(OpenSource, RefusesAnEmptyNameAndNoGenerator) {
    EXPECT_THROW(open_source("", std::make_shared<Generator>()), SourceError);
    EXPECT_THROW(open_source("sim", nullptr), std::invalid_argument);
}

// What a file source holds does not grow with a number in the file's header: a file of 1024
// channels (libsndfile's most) costs what a stereo one does, and still plays its first two.
TEST_F(Files, MemoryDoesNotFollowTheHeadersChannelCount) {
    constexpr int kFrames = 100;
    const auto stereo =
        write_file(file("stereo"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, kFrames);
    const auto many =
        write_file(file("many"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1024, 48000, kFrames);
    testing::FakeClock clock;
    FileSource two(file("stereo"), clock.clock()), lots(file("many"), clock.clock());
    EXPECT_EQ(lots.cache_capacity_bytes(), two.cache_capacity_bytes());
    clock.set(1.0);
    ASSERT_GE(lots.frames_now(), kFrames);
    for (int ch = 0; ch < kChannels; ++ch) {
        std::vector<double> got(kFrames);
        lots.read(ch, 0, got);
        for (int f = 0; f < kFrames; ++f)
            ASSERT_EQ(got[f], many[static_cast<std::size_t>(f * 1024 + ch)]) << "frame " << f;
    }
}

// A file damaged while playing unlocks the source and says where, rather than playing garbage.
TEST_F(Files, FileThatStopsDecodingUnlocksTheSource) {
    testing::FakeClock clock;
    FileSource source(good(*this), clock.clock());
    clock.set(2.0);
    cut(file("good"), 44 + 4 * 20000);  // the first and last blocks stay cached from the open
    std::vector<double> v(4096, 1.0);
    source.read(kChannelA, 40000, v);
    EXPECT_FALSE(source.locked());
    EXPECT_EQ(v, std::vector<double>(4096, 0.0));
    ASSERT_EQ(source.warnings().size(), 1u);
    EXPECT_NE(source.warnings()[0].find("stopped decoding at frame 36864 of 100000"),
              std::string::npos)
        << source.warnings()[0];
}

}  // namespace
}  // namespace vantel::source
