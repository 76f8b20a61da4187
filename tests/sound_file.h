// SPDX-License-Identifier: MIT
#pragma once

// Sound files for the tests, written with libsndfile (in the test's home: in_home()), and exact
// tones to fill them.

#include <sndfile.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "row_name.h"

namespace vantel::testing_support {

// A sine of amplitude 1 whose phase stays exact over long runs.
inline double sine(double frequency_hz, double rate_hz, long long n) {
    return std::sin(2.0 * std::numbers::pi *
                    std::fmod(frequency_hz * static_cast<double>(n), rate_hz) / rate_hz);
}

// Writes `seconds` of `signal(n)` at `rate_hz` (any rate a WAV header holds) as 32-bit float on
// each of `channels` channels, and returns `path`. A mono file's header is 44 bytes and each
// frame 4 more, for a test that cuts it short.
inline std::string write_sound_file(const std::string& path, int rate_hz, double seconds,
                                    const std::function<double(long long)>& signal,
                                    int channels = 1) {
    SF_INFO info{0, rate_hz, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    const auto frames = std::llround(seconds * rate_hz);
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (long long n = 0; n < frames; ++n)
        for (int ch = 0; ch < channels; ++ch)
            samples[static_cast<std::size_t>(n * channels + ch)] = static_cast<float>(signal(n));
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return path;
}

}  // namespace vantel::testing_support
