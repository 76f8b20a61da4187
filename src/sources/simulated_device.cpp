// SPDX-License-Identifier: MIT
#include "sources/simulated_device.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "sources/oscillator.h"

namespace vantel::source {

namespace {

// AES17's measurement band. White noise sampled at rate fs spreads its power evenly up to fs/2,
// so only (20000 - 20) / (fs / 2) of it falls in the band; the sampled noise is scaled up by the
// root of the inverse so that the band holds the stated RMS.
constexpr double kBandLowHz = 20.0;
constexpr double kBandHighHz = 20000.0;

double white_noise_v_rms(double in_band_v_rms, double rate_hz) {
    const double nyquist_hz = rate_hz / 2.0;
    const double band_hz = std::min(kBandHighHz, nyquist_hz) - kBandLowHz;
    return in_band_v_rms * std::sqrt(nyquist_hz / band_hz);
}

double uniform_from_bits(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

}  // namespace

DeviceModel device_under_test() {
    return {"sim",
            "simulated device under test",
            {ChannelModel{1.006, 30e-6, 1.5e-5, 1e-5}, ChannelModel{0.994, 33e-6, 2e-5, 1.26e-5}},
            2e-3,
            30.0,
            48000.0};
}

DeviceModel analyser_loopback() {
    return {"loopback",
            "generator output looped back to the inputs",
            {ChannelModel{1.0, 2e-6, 3e-6, 1e-7}, ChannelModel{1.0, 2e-6, 3e-6, 1e-7}},
            0.0,
            30.0,
            48000.0};
}

SimulatedDevice::SimulatedDevice(DeviceModel model, std::shared_ptr<const Generator> generator,
                                 std::uint64_t seed, MonotonicClock clock, double full_scale_v_rms)
    : model_(std::move(model)),
      generator_(std::move(generator)),
      seed_(seed),
      full_scale_v_rms_(kAnalogueFullScaleVRms),
      frames_(std::move(clock), model_.rate_hz) {
    if (!generator_)
        throw std::invalid_argument(model_.name + " needs a generator to play");
    if (!(model_.rate_hz >= 8000.0) || !std::isfinite(model_.rate_hz))
        throw std::invalid_argument(model_.name + " needs a sample rate of at least 8000 Hz");
    set_full_scale_v_rms(full_scale_v_rms);
    for (int ch = 0; ch < kChannels; ++ch) {
        noise_key_[ch] = noise_key(seed, ch);
        // The drift's phase, like the noise, is the seed's: another seed, another start.
        drift_phase_turns_[ch] = uniform_from_bits(mix64(noise_key_[ch] ^ 0xd1b54a32d192ed03ULL));
    }
}

std::int64_t SimulatedDevice::history_frames() const {
    return produced_;
}

void SimulatedDevice::set_full_scale_v_rms(double v_rms) {
    SampleSource::set_full_scale_v_rms(v_rms);
    full_scale_v_rms_.store(v_rms, std::memory_order_relaxed);
}

void SimulatedDevice::read(int channel, std::int64_t first_frame, std::span<double> out) {
    check_channel(channel);
    produced_ = frames_.now();
    const auto size = static_cast<std::int64_t>(out.size());
    // Only frames in [0, produced) exist; the rest of the window is silence.
    const std::int64_t begin = std::clamp<std::int64_t>(0 - first_frame, 0, size);
    const std::int64_t end = std::clamp<std::int64_t>(produced_ - first_frame, begin, size);
    std::fill(out.begin(), out.begin() + begin, 0.0);
    std::fill(out.begin() + end, out.end(), 0.0);
    // A full-scale sine has amplitude 1.0, so one volt is 1 / (full scale x sqrt 2) units.
    const double units_per_v = 1.0 / (full_scale_v_rms() * std::numbers::sqrt2);
    render(channel, first_frame + begin, out.subspan(begin, end - begin), units_per_v);
}

std::string SimulatedDevice::describe() const {
    return model_.name + ": " + model_.what + ", " +
           std::to_string(static_cast<long long>(model_.rate_hz)) + " Hz, seed " +
           std::to_string(seed_);
}

void SimulatedDevice::render(int channel, std::int64_t first_frame, std::span<double> out,
                             double units_per_v) const {
    check_channel(channel);
    if (out.empty())
        return;
    const int other = 1 - channel;
    const ChannelModel& m = model_.channels[channel];
    const double rate_hz = model_.rate_hz;
    const GeneratorSettings g = generator_->settings();

    // What the generator puts on each input, as peak volts. A tone at or above half the rate
    // never reaches the samples: the converter's anti-alias filter removes it, and likewise
    // each harmonic that would fold back into the band.
    const bool plays = g.on && g.frequency_hz < rate_hz / 2.0;
    const double peak_v = plays ? g.level_v_rms * std::numbers::sqrt2 : 0.0;
    const double own_peak_v = g.output_on[channel] ? peak_v * m.gain : 0.0;
    const double leak_peak_v =
        g.output_on[other] ? peak_v * model_.channels[other].gain * m.crosstalk : 0.0;
    const double h2 = 2.0 * g.frequency_hz < rate_hz / 2.0 ? kSecondHarmonicShare * m.thd : 0.0;
    const double h3 = 3.0 * g.frequency_hz < rate_hz / 2.0 ? kThirdHarmonicShare * m.thd : 0.0;
    const double noise_units = white_noise_v_rms(m.noise_v_rms, rate_hz) * units_per_v;
    const std::uint64_t key = noise_key_[channel];

    const double own = own_peak_v * units_per_v;
    const double leak = leak_peak_v * units_per_v;
    const std::size_t n = out.size();
    // The noise first, in its own loop: its table lookups and rare tail calls would keep the
    // tone's arithmetic below from running in vector registers.
    const double* quantiles = detail::normal_quantile_table();
    for (std::size_t i = 0; i < n; ++i) {
        const auto frame = first_frame + static_cast<std::int64_t>(i);
        out[i] = noise_units * normal_from_bits(random_bits(key, frame), quantiles);
    }
    if (own == 0.0 && leak == 0.0)
        return;

    // The tone is built in chunks of kChunkFrames on a grid of absolute frames, so that a frame
    // comes out the same whichever window it is read in. At each chunk's start the sine and
    // cosine come from the exact phase; within it, from a rotation by k steps (a table made
    // once per read), which keeps the samples independent of each other and cheap. The drift,
    // a 30 s wave, is interpolated linearly across a chunk (1.3 ms): off by under 2e-10.
    const Phase step = plays ? phase_increment(g.frequency_hz, rate_hz) : 0;
    std::array<double, kChunkFrames> rotation_sin;
    std::array<double, kChunkFrames> rotation_cos;
    for (std::size_t k = 0; k < kChunkFrames; ++k) {
        const SinCos r = sincos_of(static_cast<Phase>(k) * step);
        rotation_sin[k] = r.sin;
        rotation_cos[k] = r.cos;
    }
    const double drift = model_.drift_period_s > 0.0 ? model_.drift : 0.0;
    const Phase drift_step =
        drift != 0.0 ? phase_increment(1.0 / model_.drift_period_s, rate_hz) : 0;
    const Phase drift_start = phase_of_turns(drift_phase_turns_[channel]);
    auto gain_at = [&](std::int64_t frame) {
        return 1.0 + drift * sincos_of(drift_start + static_cast<Phase>(frame) * drift_step).sin;
    };

    constexpr auto kChunk = static_cast<std::int64_t>(kChunkFrames);
    const std::int64_t end_frame = first_frame + static_cast<std::int64_t>(n);
    // Floor division, so the grid holds for frames before zero too.
    std::int64_t chunk_start = first_frame - ((first_frame % kChunk) + kChunk) % kChunk;
    for (; chunk_start < end_frame; chunk_start += kChunk) {
        const SinCos at = sincos_of(static_cast<Phase>(chunk_start) * step);
        const double gain_start = gain_at(chunk_start);
        const double gain_slope = (gain_at(chunk_start + kChunk) - gain_start) / kChunk;
        const auto from =
            static_cast<std::size_t>(std::max(first_frame, chunk_start) - chunk_start);
        const auto to =
            static_cast<std::size_t>(std::min(end_frame, chunk_start + kChunk) - chunk_start);
        double* o = out.data() + (chunk_start + static_cast<std::int64_t>(from) - first_frame);
        for (std::size_t k = from; k < to; ++k) {
            const double sin_x = at.sin * rotation_cos[k] + at.cos * rotation_sin[k];
            const double cos_x = at.cos * rotation_cos[k] - at.sin * rotation_sin[k];
            // sin 2x = 2 sin x cos x and sin 3x = sin x (3 - 4 sin^2 x): the harmonics come
            // from the fundamental's own sine and cosine, in phase with it.
            const double shaped =
                sin_x * (1.0 + 2.0 * h2 * cos_x + h3 * (3.0 - 4.0 * sin_x * sin_x));
            const double gain = gain_start + gain_slope * static_cast<double>(k);
            // The leak leaves out the other channel's drift: 2e-3 of -100 dB is far below
            // anything measurable.
            o[k - from] += own * gain * shaped + leak * sin_x;
        }
    }
}

}  // namespace vantel::source
