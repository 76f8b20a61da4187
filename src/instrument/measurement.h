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
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
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
    // "generator output" sees.
    Measurement(std::unique_ptr<source::SampleSource> source,
                std::shared_ptr<source::Generator> generator, std::uint64_t seed,
                source::MonotonicClock clock);

    // Where the lines worth a log go: a source that fails while running, the first samples
    // that are not numbers. Called from the thread that takes readings; nothing when empty.
    void set_warn(std::function<void(const std::string&)> warn) { warn_ = std::move(warn); }

    // The channel's quantity now, before it is expressed in a unit.
    Quantity quantity(const AnalyserSettings& s, Channel ch);
    // The reading in the detector's unit; never NaN or infinite.
    double reading(const AnalyserSettings& s, Channel ch);
    // The STATUS_ flags of a reading of `ch` now (and of the other channel, where the reading
    // uses both): 0 when it is a reading to trust.
    std::int32_t status(const AnalyserSettings& s, Channel ch);
    // Input samples that were NaN or infinite, measured as 0, since the analyser started; each
    // sample counted once however often it is measured.
    std::int64_t invalid_samples() const { return invalid_samples_; }

    // The digital input's frame rate in Hz, 0 when it has no lock.
    std::int32_t frame_rate_hz(const AnalyserSettings& s) const;
    // The rate the generator plays at, which bounds its frequency.
    double generator_rate_hz() const;

    source::Generator& generator() { return *generator_; }
    const source::Generator& generator() const { return *generator_; }
    const source::SampleSource& source() const { return *source_; }
    SourceKind source_kind() const { return source_kind_; }

private:
    // What a channel's chain has been fed from; a change restarts it.
    struct Feed {
        const source::SampleSource* source = nullptr;
        std::uint64_t epoch = 0;
        double rate_hz = 0.0;
        double converter_full_scale_v = 0.0;  // a simulated source's, which makes its samples
        std::array<bool, 2> drive{};
        bool operator==(const Feed&) const = default;
    };
    struct ChannelChain {
        std::optional<measure::ChannelMeter> meter;
        Feed feed;
        std::int64_t next_frame = 0;
        // The window counts as refilled once it holds only frames from here on: where the chain
        // last restarted for a change, or the epoch's start for a chain new to its input.
        std::int64_t settled_from = 0;
        // The latest frames that were at or over full scale, not a number, or next to samples
        // the input lost; each flags the readings whose window holds it.
        static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min();
        std::int64_t last_overload = kNever;
        std::int64_t last_invalid = kNever;
        std::int64_t last_dropout = kNever;
        std::uint64_t dropouts_seen = 0;  // the live input's xruns and lost frames, as last seen
        bool lost = false;                // the input was lost at the last catch-up
    };

    source::SampleSource& input(const AnalyserSettings& s);
    // The volts RMS of a full-scale sine on the channel: its calibration on the analogue inputs.
    double full_scale_v(const AnalyserSettings& s, Channel ch) const;
    // What makes a simulated source's samples: its converter's true full scale.
    double converter_full_scale_v(const AnalyserSettings& s) const;
    // Whether a reading of `ch` needs the other channel measured too.
    bool uses_both(const AnalyserSettings& s) const;
    // Which of the generator's outputs are driven for a reading of `ch`: a noise function
    // measures with the generator muted, cross-talk with only the other channel driven.
    std::array<bool, 2> drive_for(const AnalyserSettings& s, Channel ch) const;
    // Brings the channel's chain up to the source's present; false when the input has nothing
    // to measure (an unlocked digital input, a live source whose server is away).
    bool catch_up(const AnalyserSettings& s, Channel ch, const std::array<bool, 2>& drive);
    // The mean of channel `ch` of `in` over frames [from, to), non-finite samples left out.
    double mean_input(source::SampleSource& in, Channel ch, std::int64_t from, std::int64_t to);
    // Notes over-range and invalid samples among frames [first, first + block size) of `ch`.
    void watch(std::span<const double> block, std::int64_t first, Channel ch, bool from_source);
    // What the chain of `ch`, just caught up, says of the window it reads.
    std::int32_t window_flags(Channel ch) const;
    // Passes on what the source has found to say since it was last asked.
    void tell_source_warnings();
    double volts(const AnalyserSettings& s, Channel ch, double level) const;
    Quantity measure(const AnalyserSettings& s, Channel ch);

    std::unique_ptr<source::SampleSource> source_;
    std::shared_ptr<source::Generator> generator_;
    // The generator itself, as the analogue input "generator output" sees it.
    source::SimulatedDevice generator_output_;
    SourceKind source_kind_;
    std::array<ChannelChain, 2> chains_;
    std::vector<double> block_;
    std::function<void(const std::string&)> warn_;
    std::size_t source_warnings_told_ = 0;
    std::int64_t invalid_samples_ = 0;
    // Per channel of the source, the frame up to which invalid samples are counted, so that a
    // chain that measures the last second again counts nothing twice; in the source's epoch.
    std::array<std::int64_t, 2> counted_to_{};
    std::uint64_t counted_epoch_ = 0;
};

// The measuring chain a function and the detector's settings ask for. The function's own
// weighting wins over the detector's; "default" is the signal analyser's default filter.
measure::ChainSettings chain_for(const AnalyserSettings& s);

}  // namespace vantel::instrument
