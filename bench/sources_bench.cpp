// SPDX-License-Identifier: MIT
// What producing samples costs, per sample of one channel: the analyser renders the sim source
// continuously at 48 kHz while a panel polls five times a second, and all of its measuring must
// stay near 0.15 % of a core, so one channel of sim must cost well under 10 ns a sample. Each
// iteration reads what one poll reads: the last 200 ms (9600 frames) of one channel.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sources/file_source.h"
#include "sources/open_source.h"

namespace {

using namespace vantel::source;

constexpr double kPollS = 0.2;

struct Clock {
    std::shared_ptr<double> now_s = std::make_shared<double>(0.0);
    MonotonicClock clock() const {
        return [now = now_s] { return *now; };
    }
};

// Polls `source` as the analyser would: time moves on 200 ms, the new 200 ms are read.
void poll(benchmark::State& state, SampleSource& source, const Clock& clock, int channel) {
    const auto frames = static_cast<std::size_t>(source.rate_hz() * kPollS);
    std::vector<double> window(frames);
    for (auto _ : state) {
        *clock.now_s += kPollS;
        const std::int64_t now = source.frames_now();
        source.read(channel, now - static_cast<std::int64_t>(frames), window);
        benchmark::DoNotOptimize(window.data());
        benchmark::ClobberMemory();
    }
    state.counters["per_sample"] = benchmark::Counter(
        static_cast<double>(frames),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Generated(benchmark::State& state, const char* source_name, bool generator_on) {
    auto generator = std::make_shared<Generator>();
    generator->set_on(generator_on);
    Clock clock;
    auto source = open_source(source_name, generator, {1, clock.clock(), 10.0});
    poll(state, *source, clock, static_cast<int>(state.range(0)));
}
BENCHMARK_CAPTURE(BM_Generated, sim, "sim", true)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Generated, sim_generator_off, "sim", false)->Arg(0);
BENCHMARK_CAPTURE(BM_Generated, loopback, "loopback", true)->Arg(0);

long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

// A minute of a 48 kHz stereo tone: 11.5 MB as 16-bit WAV, 46 MB if it were held as doubles.
std::string minute_file(int format, const char* name) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vantel_sources_bench_" + std::string(name)))
            .string();
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<double> second(2 * 48000);
    for (int s = 0; s < 60; ++s) {
        for (int f = 0; f < 48000; ++f) {
            const double x =
                0.5 * std::sin(2 * 3.141592653589793 * 997.0 * (s * 48000 + f) / 48000);
            second[2 * f] = x;
            second[2 * f + 1] = -x;
        }
        sf_writef_double(file, second.data(), 48000);
    }
    sf_close(file);
    return path;
}

void BM_File(benchmark::State& state, int format, const char* name) {
    const std::string path = minute_file(format, name);
    const long before_kib = resident_kib();
    {
        Clock clock;
        FileSource source(path, clock.clock());
        poll(state, source, clock, 0);
        state.counters["cache_MiB"] =
            static_cast<double>(source.cache_capacity_bytes()) / (1024.0 * 1024.0);
        // Resident growth while playing through the whole minute (and more): the cache, not
        // the file.
        state.counters["rss_growth_MiB"] =
            static_cast<double>(resident_kib() - before_kib) / 1024.0;
    }
    std::filesystem::remove(path);
}
BENCHMARK_CAPTURE(BM_File, wav_16, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav16.wav")->MinTime(2.0);
BENCHMARK_CAPTURE(BM_File, flac_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "flac16.flac")->MinTime(2.0);
BENCHMARK_CAPTURE(BM_File, wav_float, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "float.wav")->MinTime(2.0);

}  // namespace
