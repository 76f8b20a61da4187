// SPDX-License-Identifier: MIT
#include "instrument/measurement.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "instrument/units.h"

namespace vantel::instrument {

namespace {

using measure::Band;
using measure::Curve;
using measure::Detector;

// After a long pause, or when a chain restarts, it measures no more than this much of the past:
// enough for its 200 ms window and the settling of its filters.
constexpr double kCatchUp_s = 1.0;
// Samples are fed to the chains in blocks of this many frames.
constexpr std::size_t kBlockFrames = 4096;

Curve curve_of(std::int16_t weighting) {
    switch (weighting) {
        case code_of("CTD_WEIGHTING_AWEIGHTING"):
            return Curve::A;
        case kUnnamedWeighting:
            return Curve::Highpass400;
        case code_of("CTD_WEIGHTING_CCIR468_1K"):
            return Curve::Ccir468;
        case code_of("CTD_WEIGHTING_CCIR468_2K"):
            return Curve::Ccir468At2k;
        default:
            return Curve::Flat;
    }
}

Detector detector_of(std::int16_t response) {
    switch (response) {
        case code_of("CTD_RESPONSE_PEAK"):
            return Detector::TruePeak;
        case code_of("CTD_RESPONSE_PEAKSAMPLE"):
            return Detector::SamplePeak;
        case code_of("CTD_RESPONSE_QPEAK"):
            return Detector::QuasiPeak;
        default:
            return Detector::Rms;
    }
}

int channel_index(Channel ch) {
    return static_cast<int>(index(ch));
}

}  // namespace

measure::ChainSettings chain_for(const AnalyserSettings& s) {
    std::int16_t weighting = s.function->weighting.value_or(s.weighting);
    if (weighting == code_of("CTD_WEIGHTING_DEFAULT"))
        weighting = s.default_weighting;
    // Noise and distortion are measured in the audio band, as AES17 has them; a level, a
    // balance or a frequency across everything the input passes.
    const bool audio_band =
        s.function->kind == FunctionKind::Noise || s.function->kind == FunctionKind::Thdn;
    return {audio_band ? Band::Audio : Band::Wide, curve_of(weighting), detector_of(s.response)};
}

Measurement::Measurement(std::unique_ptr<source::SampleSource> source,
                         std::shared_ptr<source::Generator> generator, std::uint64_t seed,
                         source::MonotonicClock clock, double analogue_full_scale_v)
    : source_(std::move(source)),
      generator_(std::move(generator)),
      generator_output_(source::analyser_loopback(), generator_, seed, std::move(clock),
                        analogue_full_scale_v),
      source_is_simulated_(dynamic_cast<source::SimulatedDevice*>(source_.get()) != nullptr),
      analogue_full_scale_v_(analogue_full_scale_v),
      block_(kBlockFrames) {
    // Refused now, at open, rather than at the first reading: every chain is designed once at
    // the source's rate.
    if (const double rate_hz = source_->rate_hz(); rate_hz > 0.0) {
        try {
            measure::check_designs(rate_hz);
        } catch (const std::logic_error& e) {
            throw source::SourceError(source_->describe() + ": cannot be measured: " + e.what());
        }
    }
}

double Measurement::generator_rate_hz() const {
    // A live input plays the generator on its own device too, at that device's rate.
    const double monitor_hz = generator_output_.rate_hz();
    if (dynamic_cast<const source::LiveSource*>(source_.get()) && source_->rate_hz() > 0.0)
        return std::min(monitor_hz, source_->rate_hz());
    return monitor_hz;
}

std::int32_t Measurement::frame_rate_hz(const AnalyserSettings& s) const {
    if (source_is_simulated_) {
        auto it = s.frame_rates_hz.find(s.digital_source);
        return it == s.frame_rates_hz.end() ? 0 : it->second;
    }
    return source_->locked() ? static_cast<std::int32_t>(std::lround(source_->rate_hz())) : 0;
}

source::SampleSource& Measurement::input(const AnalyserSettings& s) {
    if (s.input_domain == kAnalogueDomain && s.analogue_source == code_of("AI_SOURCE_GENOUTPUT"))
        return generator_output_;
    return *source_;
}

double Measurement::full_scale_v(const AnalyserSettings& s) const {
    return s.input_domain == kDigitalDomain ? source::kDigitalFullScaleVRms
                                            : analogue_full_scale_v_;
}

std::array<bool, 2> Measurement::drive_for(const AnalyserSettings& s, Channel ch) const {
    switch (s.function->kind) {
        case FunctionKind::Noise:
            return {false, false};
        case FunctionKind::Crosstalk:
            return ch == Channel::A ? std::array{false, true} : std::array{true, false};
        default:
            return {true, true};
    }
}

bool Measurement::catch_up(const AnalyserSettings& s, Channel ch,
                           const std::array<bool, 2>& drive) {
    source::SampleSource& in = input(s);
    const bool digital = s.input_domain == kDigitalDomain;
    if ((digital && frame_rate_hz(s) == 0) || !in.locked() ||
        !(in.rate_hz() >= measure::kMinimumRateHz && in.rate_hz() <= measure::kMaximumRateHz))
        return false;

    // A simulated source makes volts into samples through the input's full scale.
    in.set_full_scale_v_rms(full_scale_v(s));
    for (int output : {source::kChannelA, source::kChannelB})
        generator_->set_output_on(output, drive[output]);

    ChannelChain& chain = chains_[index(ch)];
    const Feed feed{&in, in.epoch(), in.rate_hz(), full_scale_v(s), drive};
    const std::int64_t now = in.frames_now();
    const auto catch_up_frames = static_cast<std::int64_t>(
        std::min<double>(kCatchUp_s * feed.rate_hz, static_cast<double>(in.history_frames())));
    bool restart = !chain.meter || !(chain.feed == feed);
    const measure::ChainSettings wanted = chain_for(s);
    try {
        if (!chain.meter || chain.meter->rate_hz() != feed.rate_hz)
            chain.meter.emplace(feed.rate_hz);
        if (!(chain.meter->settings() == wanted)) {
            chain.meter->configure(wanted);
            restart = true;
        }
    } catch (const std::logic_error&) {
        // A design that fails at a rate a live server came back at: the sources' rates were
        // checked when they opened, so this is a rate the input cannot be measured at. It
        // reads as an input without lock rather than ending the program.
        chain.meter.reset();
        return false;
    }
    if (restart) {
        chain.feed = feed;
        chain.next_frame = now - catch_up_frames;
        chain.meter->restart(mean_input(in, ch, chain.next_frame, now));
    }
    std::int64_t from = std::max(chain.next_frame, now - catch_up_frames);
    while (from < now) {
        const auto frames = static_cast<std::size_t>(
            std::min<std::int64_t>(now - from, static_cast<std::int64_t>(block_.size())));
        const std::span<double> block(block_.data(), frames);
        in.read(channel_index(ch), from, block);
        chain.meter->process(block);
        from += static_cast<std::int64_t>(frames);
    }
    chain.next_frame = now;
    return true;
}

double Measurement::mean_input(source::SampleSource& in, Channel ch, std::int64_t from,
                               std::int64_t to) {
    // The chain replays this stretch from rest; started settled on its mean, the filters see no
    // step where a DC offset begins, and the first reading is the settled one.
    double sum = 0.0;
    std::int64_t count = 0;
    while (from < to) {
        const auto frames = static_cast<std::size_t>(
            std::min<std::int64_t>(to - from, static_cast<std::int64_t>(block_.size())));
        const std::span<double> block(block_.data(), frames);
        in.read(channel_index(ch), from, block);
        for (double x : block) {
            if (std::isfinite(x)) {
                sum += x;
                ++count;
            }
        }
        from += static_cast<std::int64_t>(frames);
    }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

bool Measurement::window_refilled(Channel ch) const {
    const ChannelChain& chain = chains_[index(ch)];
    return chain.meter && chain.meter->window_full();
}

double Measurement::volts(const AnalyserSettings& s, double level) const {
    // Samples are in full-scale units: a full-scale sine has amplitude 1 and RMS 1/sqrt 2.
    return level * std::numbers::sqrt2 * full_scale_v(s);
}

Quantity Measurement::measure(const AnalyserSettings& s, Channel ch) {
    const std::array<bool, 2> drive = drive_for(s, ch);
    const FunctionKind kind = s.function->kind;
    const bool both = kind == FunctionKind::Balance || kind == FunctionKind::Crosstalk ||
                      (s.relativity == code_of("CTD_RELATIVITY_CHANNEL") && !measures_ratio(kind));
    if (!catch_up(s, ch, drive))
        return {};
    if (both && !catch_up(s, other(ch), drive))
        return {};
    const measure::ChannelMeter& meter = *chains_[index(ch)].meter;
    const measure::ChannelMeter& other_meter = *chains_[index(other(ch))].meter;
    switch (kind) {
        case FunctionKind::Level:
        case FunctionKind::Noise:
            return {volts(s, meter.level()), 0.0};
        case FunctionKind::Thdn: {
            // The residual against the whole signal in the band, in volts, so that a level unit
            // shows the residual and a relative unit the ratio.
            const double total_v = volts(s, meter.level());
            return {meter.thdn_ratio() * total_v, total_v};
        }
        case FunctionKind::Balance:
            return {volts(s, meter.level()), volts(s, other_meter.level())};
        case FunctionKind::Crosstalk: {
            // Measured selectively at the driven channel's frequency, so the undriven channel's
            // own noise drops out.
            const double driven_hz = other_meter.frequency_hz();
            if (driven_hz <= 0.0)
                return {};
            return {volts(s, meter.level_at(driven_hz)), volts(s, other_meter.level_at(driven_hz))};
        }
        case FunctionKind::Frequency:
            return {meter.frequency_hz(), 0.0};
    }
    return {};
}

Quantity Measurement::quantity(const AnalyserSettings& s, Channel ch) {
    Quantity q = measure(s, ch);
    if (!measures_ratio(s.function->kind) && s.relativity == code_of("CTD_RELATIVITY_CHANNEL"))
        q.reference = measure(s, other(ch)).value;
    return q;
}

double Measurement::reading(const AnalyserSettings& s, Channel ch) {
    const Quantity q = quantity(s, ch);
    switch (family_of(s.unit)) {
        case UnitFamily::Relative: {
            double reference = q.reference;
            if (!measures_ratio(s.function->kind)) {
                switch (s.relativity) {
                    case code_of("CTD_RELATIVITY_SELF"):
                        reference = s.self_reference[index(ch)];
                        break;
                    case code_of("CTD_RELATIVITY_GEN"):
                        reference = s.function->kind == FunctionKind::Frequency
                                        ? generator_->frequency_hz()
                                        : generator_->level_v_rms();
                        break;
                    case code_of("CTD_RELATIVITY_CHANNEL"):
                        break;  // the other channel's, measured above
                    default:
                        return express_ratio(1.0, s.unit);  // absolute: against itself
                }
            }
            return express_ratio(q.value / std::max(reference, kResolutionFloor), s.unit);
        }
        case UnitFamily::Level:
            return express_level(q.value, s.unit, full_scale_v(s));
        case UnitFamily::Frequency:
        case UnitFamily::Unsupported:
            break;
    }
    return q.value;
}

}  // namespace vantel::instrument
