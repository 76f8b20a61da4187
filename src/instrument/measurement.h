// SPDX-License-Identifier: MIT
#pragma once

// What our analyser measures, and how: samples from a source, through one measuring
// chain per channel, expressed in the detector's unit. The path of one reading:
//
//   input (the source, or the generator itself) -> the function's band -> weighting filter
//   -> detector -> quantity (volts, Hz, or a ratio against a reference) -> unit
//
// Work is done when a reading is asked for: the channel's chain catches up with the samples the
// source has produced since (no more than the last second), then the reading is taken.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "instrument/settings.h"
#include "measure/measure.h"
#include "sources/generator.h"
#include "sources/live_source.h"
#include "sources/sample_source.h"
#include "sources/simulated_device.h"

namespace vantel::instrument {

class Measurement {
public:
    // Reads `source`; the generator drives the simulated sources and is what the analogue input
    // "generator output" sees. `analogue_full_scale_v` calibrates the analogue inputs: the volts
    // RMS of a full-scale sine.
    Measurement(std::unique_ptr<source::SampleSource> source,
                std::shared_ptr<source::Generator> generator, std::uint64_t seed,
                source::MonotonicClock clock, double analogue_full_scale_v);

    // The channel's quantity now, before it is expressed in a unit.
    Quantity quantity(const AnalyserSettings& s, Channel ch);
    // The reading in the detector's unit; never NaN or infinite.
    double reading(const AnalyserSettings& s, Channel ch);

    // The digital input's frame rate in Hz, 0 when it has no lock.
    std::int32_t frame_rate_hz(const AnalyserSettings& s) const;
    // The rate the generator plays at, which bounds its frequency.
    double generator_rate_hz() const;
    // Whether the channel's chain has measured a whole window (200 ms) since it last restarted
    // (new settings, a new epoch or rate of the source, or the first reading): until then its
    // reading is still settling. A change of settings replays up to a second of the source's
    // history, so the window is whole at once where the source keeps one; after a live
    // server's return it fills in real time. False before the channel's first reading.
    bool window_refilled(Channel ch) const;

    source::Generator& generator() { return *generator_; }
    const source::Generator& generator() const { return *generator_; }
    const source::SampleSource& source() const { return *source_; }

private:
    // What a channel's chain has been fed from; a change restarts it.
    struct Feed {
        const source::SampleSource* source = nullptr;
        std::uint64_t epoch = 0;
        double rate_hz = 0.0;
        double full_scale_v = 0.0;
        std::array<bool, 2> drive{};
        bool operator==(const Feed&) const = default;
    };
    struct ChannelChain {
        std::optional<measure::ChannelMeter> meter;
        Feed feed;
        std::int64_t next_frame = 0;
    };

    source::SampleSource& input(const AnalyserSettings& s);
    double full_scale_v(const AnalyserSettings& s) const;
    // Which of the generator's outputs are driven for a reading of `ch`: a noise function
    // measures with the generator muted, cross-talk with only the other channel driven.
    std::array<bool, 2> drive_for(const AnalyserSettings& s, Channel ch) const;
    // Brings the channel's chain up to the source's present; false when the input has nothing
    // to measure (an unlocked digital input, a live source whose server is away).
    bool catch_up(const AnalyserSettings& s, Channel ch, const std::array<bool, 2>& drive);
    // The mean of channel `ch` of `in` over frames [from, to), non-finite samples left out.
    double mean_input(source::SampleSource& in, Channel ch, std::int64_t from, std::int64_t to);
    double volts(const AnalyserSettings& s, double level) const;
    Quantity measure(const AnalyserSettings& s, Channel ch);

    std::unique_ptr<source::SampleSource> source_;
    std::shared_ptr<source::Generator> generator_;
    // The generator itself, as the analogue input "generator output" sees it.
    source::SimulatedDevice generator_output_;
    bool source_is_simulated_;
    double analogue_full_scale_v_;
    std::array<ChannelChain, 2> chains_;
    std::vector<double> block_;
};

// The measuring chain a function and the detector's settings ask for. The function's own
// weighting wins over the detector's; "default" is the signal analyser's default filter.
measure::ChainSettings chain_for(const AnalyserSettings& s);

}  // namespace vantel::instrument
