// SPDX-License-Identifier: MIT
#pragma once

// The generator driving a simulated two-channel device, sampled as the analyser's converters
// would: each channel has a gain, harmonic distortion, noise and cross-talk from the other
// channel, and the device's gain drifts slowly. The same class plays the analyser's own
// generator looped straight back to its inputs, with only the analyser's tiny residuals.
//
// Everything is a function of the absolute frame index, the seed and the generator's settings
// at the time of the read, so any window of the past can be produced on demand, in any order.
// The signal path for one channel, in `render_v`:
//   generator sine -> gain x drift -> + harmonics -> + cross-talk of the other channel's tone
//   -> + noise -> volts -> / full scale -> full-scale units.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "sources/generator.h"
#include "sources/sample_source.h"

namespace vantel::source {

struct ChannelModel {
    double gain = 1.0;         // output volts per input volt
    double noise_v_rms = 0.0;  // measured over 20 Hz to 20 kHz (AES17's band)
    double thd = 0.0;          // RMS of the harmonics against the fundamental
    double crosstalk = 0.0;    // of the other channel's tone, as an amplitude ratio
};

struct DeviceModel {
    std::string name;  // how `open_source` calls it
    std::string what;  // for `describe`
    std::array<ChannelModel, 2> channels;
    double drift = 0.0;  // relative amplitude of the slow gain drift
    double drift_period_s = 30.0;
    double rate_hz = 48000.0;
};

// The device under test of `sim`, as the analyser's closed-form model has it
// (the analyser's model before it measured sampled audio): channel A a touch above unity gain and B
// a touch below, 30 and 33 uV of noise, -96 and -94 dB of distortion, -100 and -98 dB of
// cross-talk, and a gain drift of 0.2 % over 30 s so that a meter's minimum and maximum move.
DeviceModel device_under_test();
// The generator looped back to the inputs (SignalSettings::loopback): the analyser's own floor.
DeviceModel analyser_loopback();

// How each channel's distortion splits between harmonics, as amplitude ratios whose squares add
// to one: mostly second and third, as a slightly asymmetric, gently compressing stage gives.
inline constexpr double kSecondHarmonicShare = 0.8;
inline constexpr double kThirdHarmonicShare = 0.6;

// The RMS volts of a full-scale sine: 10 V on the analogue inputs; a digital input's full scale
// is reported as 1 V.
inline constexpr double kAnalogueFullScaleVRms = 10.0;
inline constexpr double kDigitalFullScaleVRms = 1.0;

class SimulatedDevice final : public SampleSource {
public:
    SimulatedDevice(DeviceModel model, std::shared_ptr<const Generator> generator,
                    std::uint64_t seed, MonotonicClock clock,
                    double full_scale_v_rms = kAnalogueFullScaleVRms);

    double rate_hz() const override { return model_.rate_hz; }
    bool locked() const override { return true; }
    std::int64_t frames_now() override { return produced_ = frames_.now(); }
    // Any frame since the start can be produced again.
    std::int64_t history_frames() const override;
    void read(int channel, std::int64_t first_frame, std::span<double> out) override;
    std::string describe() const override;
    // Safe from any thread; takes effect at the next read.
    void set_full_scale_v_rms(double v_rms) override;
    double full_scale_v_rms() const { return full_scale_v_rms_.load(std::memory_order_relaxed); }

    // The device's output in volts for any frames, produced or not; `read` scales it.
    void render_v(int channel, std::int64_t first_frame, std::span<double> out_v) const {
        render(channel, first_frame, out_v, 1.0);
    }

    const DeviceModel& model() const { return model_; }

private:
    void render(int channel, std::int64_t first_frame, std::span<double> out,
                double units_per_v) const;

    static constexpr std::size_t kChunkFrames = 64;

    DeviceModel model_;
    std::shared_ptr<const Generator> generator_;
    std::uint64_t seed_;
    std::array<std::uint64_t, 2> noise_key_{};
    std::array<double, 2> drift_phase_turns_{};
    std::atomic<double> full_scale_v_rms_;
    RealTimeFrames frames_;
    std::int64_t produced_ = 0;  // as of the last frames_now or read
};

}  // namespace vantel::source
