// SPDX-License-Identifier: MIT
#pragma once

// Where the analyser's samples come from. A source produces two channels (0 = A, 1 = B) in
// full-scale units, where a full-scale sine has amplitude 1.0, at its own rate and in real time.
// The measuring side asks how far the source has got (`frames_now`) and reads any window of the
// recent past by absolute frame index, lazily and one channel at a time.
//
// Sources here: `SimulatedDevice` (the generator through a simulated device under test, or
// looped straight back), `FileSource` (a sound file played in a loop); `open_source` picks one by
// name. Live inputs (JACK, ALSA) implement the same interface over a `FrameRing` that their
// real-time callback fills: while their server is away they report rate 0 and unlocked, and
// when it returns they start a new `epoch`.

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "measure/measure.h"

namespace vantel::source {

inline constexpr int kChannelA = 0;
inline constexpr int kChannelB = 1;
inline constexpr int kChannels = 2;

// Monotonic seconds from an arbitrary origin. Sources take one so that tests can drive time.
using MonotonicClock = std::function<double()>;

// std::chrono::steady_clock in seconds.
MonotonicClock steady_clock_s();

// A source that cannot be opened; the message names the source and says why.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SampleSource {
public:
    virtual ~SampleSource() = default;

    // Frames per second; 0 while a live source's server is away.
    virtual double rate_hz() const = 0;
    // True while the source delivers what it claims; a live input loses lock with its server, a
    // file source when its file stops decoding.
    virtual bool locked() const = 0;
    // Frames produced since the source started (or since its epoch began), at the real-time
    // rate against the monotonic clock. Never decreases within an epoch.
    virtual std::int64_t frames_now() = 0;
    // Counts restarts of the frame numbering (a live server that came back, perhaps at another
    // rate). A consumer that sees it change drops its filter state and history.
    virtual std::uint64_t epoch() const { return 0; }
    // How many frames before `frames_now()` a read is guaranteed to find: at least one second.
    virtual std::int64_t history_frames() const = 0;

    // Fills `out` with channel `channel`'s samples for frames [first_frame, first_frame +
    // out.size()), in full-scale units. Frames the source no longer keeps, or has not produced
    // yet, read as silence. Throws std::out_of_range for a channel other than 0 or 1.
    virtual void read(int channel, std::int64_t first_frame, std::span<double> out) = 0;

    // One line for logs and messages: what the source is and its rate.
    virtual std::string describe() const = 0;

    // Things the caller should log (the library logs nothing), e.g. channels a file has beyond
    // the two that are used.
    virtual std::vector<std::string> warnings() const { return {}; }

    // The RMS volts of a full-scale sine, for sources that produce volts (the simulated
    // device); sources whose samples are full-scale units already ignore it. Throws
    // std::invalid_argument unless it is finite and above zero.
    virtual void set_full_scale_v_rms(double v_rms);
};

// Throws std::out_of_range unless `channel` is 0 or 1.
void check_channel(int channel);

// The rates the analyser measures at, those of its measuring engine: 8 kHz to 768 kHz. A source
// at another rate is refused when it opens, before anything is sized by its rate.
inline constexpr double kMinRateHz = measure::kMinimumRateHz;
inline constexpr double kMaxRateHz = measure::kMaximumRateHz;
// Why `rate_hz` cannot be measured ("1000000 Hz is above the highest the analyser measures at,
// 768000 Hz"); empty when it can.
std::string unmeasurable_rate(double rate_hz);

// Frames produced at `rate_hz` since the clock read `start_s`: a monotonic frame counter for
// sources that generate or replay samples in step with real time.
class RealTimeFrames {
public:
    RealTimeFrames(MonotonicClock clock, double rate_hz);

    std::int64_t now();
    double rate_hz() const { return rate_hz_; }

private:
    MonotonicClock clock_;
    double rate_hz_;
    double start_s_;
    std::int64_t last_ = 0;  // a clock that stutters backwards does not unproduce frames
};

}  // namespace vantel::source
