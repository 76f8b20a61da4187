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
                         source::MonotonicClock clock)
    : source_(std::move(source)),
      generator_(std::move(generator)),
      generator_output_(source::analyser_loopback(), generator_, seed, std::move(clock)),
      source_kind_(dynamic_cast<source::SimulatedDevice*>(source_.get()) ? SourceKind::Simulated
                   : dynamic_cast<source::LiveSource*>(source_.get())    ? SourceKind::SoundCard
                                                                         : SourceKind::File),
      block_(kBlockFrames),
      // What the source had to say when it was opened is the opener's to tell.
      source_warnings_told_(source_->warnings().size()) {
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
    if (source_kind_ == SourceKind::SoundCard && source_->rate_hz() > 0.0)
        return std::min(monitor_hz, source_->rate_hz());
    return monitor_hz;
}

std::int32_t Measurement::frame_rate_hz(const AnalyserSettings& s) const {
    if (source_kind_ == SourceKind::Simulated) {
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

double Measurement::full_scale_v(const AnalyserSettings& s, Channel ch) const {
    return s.input_domain == kDigitalDomain ? source::kDigitalFullScaleVRms
                                            : s.full_scale_v[index(ch)];
}

double Measurement::converter_full_scale_v(const AnalyserSettings& s) const {
    return s.input_domain == kDigitalDomain ? source::kDigitalFullScaleVRms
                                            : source::kAnalogueFullScaleVRms;
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

bool Measurement::uses_both(const AnalyserSettings& s) const {
    const FunctionKind kind = s.function->kind;
    return kind == FunctionKind::Balance || kind == FunctionKind::Crosstalk ||
           (s.relativity == code_of("CTD_RELATIVITY_CHANNEL") && !measures_ratio(kind));
}

void Measurement::tell_source_warnings() {
    const std::vector<std::string> warnings = source_->warnings();
    for (std::size_t i = source_warnings_told_; i < warnings.size(); ++i) {
        if (warn_)
            warn_(warnings[i]);
    }
    source_warnings_told_ = std::max(source_warnings_told_, warnings.size());
}

void Measurement::watch(std::span<const double> block, std::int64_t first, Channel ch,
                        bool from_source) {
    ChannelChain& chain = chains_[index(ch)];
    std::int64_t& counted_to = counted_to_[index(ch)];
    const std::int64_t invalid_before = invalid_samples_;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const double x = block[i];
        const std::int64_t frame = first + static_cast<std::int64_t>(i);
        if (!std::isfinite(x)) {
            chain.last_invalid = frame;
            if (from_source && frame >= counted_to)
                ++invalid_samples_;
        } else if (std::fabs(x) >= 1.0) {
            chain.last_overload = frame;
        }
    }
    if (from_source)
        counted_to = std::max(counted_to, first + static_cast<std::int64_t>(block.size()));
    if (invalid_before == 0 && invalid_samples_ > 0 && warn_) {
        warn_(
            "the input has samples that are not numbers (NaN or infinite): they are measured "
            "as 0, and SignalAnalyzer.SA_InvalidSamples counts them");
    }
}

bool Measurement::catch_up(const AnalyserSettings& s, Channel ch,
                           const std::array<bool, 2>& drive) {
    source::SampleSource& in = input(s);
    ChannelChain& chain = chains_[index(ch)];
    const bool digital = s.input_domain == kDigitalDomain;
    if ((digital && frame_rate_hz(s) == 0) || !in.locked() ||
        !(in.rate_hz() >= measure::kMinimumRateHz && in.rate_hz() <= measure::kMaximumRateHz)) {
        // When it comes back, the window has to fill with what came after.
        chain.lost = true;
        return false;
    }

    // A simulated source makes volts into samples through its converter's full scale.
    in.set_full_scale_v_rms(converter_full_scale_v(s));
    for (int output : {source::kChannelA, source::kChannelB})
        generator_->set_output_on(output, drive[output]);

    const bool from_source = &in == source_.get();
    // Only a simulated source's samples depend on the converter's full scale.
    const bool simulated = &in != source_.get() || source_kind_ == SourceKind::Simulated;
    const Feed feed{&in, in.epoch(), in.rate_hz(), simulated ? converter_full_scale_v(s) : 0.0,
                    drive};
    if (from_source && feed.epoch != counted_epoch_) {
        counted_to_ = {};
        counted_epoch_ = feed.epoch;
    }
    const std::int64_t now = in.frames_now();
    const auto catch_up_frames = static_cast<std::int64_t>(
        std::min<double>(kCatchUp_s * feed.rate_hz, static_cast<double>(in.history_frames())));
    const bool fresh =
        !chain.meter || chain.feed.source != feed.source || chain.feed.epoch != feed.epoch;
    bool restart = !chain.meter || !(chain.feed == feed) || chain.lost;
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
        chain.lost = true;
        return false;
    }
    const auto* live = dynamic_cast<const source::LiveSource*>(&in);
    const std::uint64_t dropouts =
        live ? live->statistics().xruns() + live->statistics().overrun_frames() : 0;
    if (restart) {
        chain.feed = feed;
        chain.next_frame = now - catch_up_frames;
        chain.meter->restart(mean_input(in, ch, chain.next_frame, now));
        // A chain new to its input (or to a new epoch of it, after a reconnect) has only that
        // input's history behind it; one restarted for a change, or after the input stalled,
        // counts only what comes from now on.
        chain.settled_from = fresh ? 0 : now;
        chain.lost = false;
        if (fresh) {
            chain.last_overload = chain.last_invalid = chain.last_dropout = ChannelChain::kNever;
            chain.dropouts_seen = dropouts;
        }
    }
    std::int64_t from = std::max(chain.next_frame, now - catch_up_frames);
    while (from < now) {
        const auto frames = static_cast<std::size_t>(
            std::min<std::int64_t>(now - from, static_cast<std::int64_t>(block_.size())));
        const std::span<double> block(block_.data(), frames);
        in.read(channel_index(ch), from, block);
        watch(block, from, ch, from_source);
        chain.meter->process(block);
        from += static_cast<std::int64_t>(frames);
    }
    chain.next_frame = now;
    // A live input counts what its real-time side lost; the reading's window holds the loss if
    // it happened since the last look.
    const std::uint64_t dropouts_now =
        live ? live->statistics().xruns() + live->statistics().overrun_frames() : 0;
    if (dropouts_now != chain.dropouts_seen) {
        chain.dropouts_seen = dropouts_now;
        chain.last_dropout = now;
    }
    if (from_source)
        tell_source_warnings();
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

std::int32_t Measurement::window_flags(Channel ch) const {
    const ChannelChain& chain = chains_[index(ch)];
    const auto window_frames =
        static_cast<std::int64_t>(std::lround(measure::kReadingWindowS * chain.feed.rate_hz));
    const std::int64_t window_start = chain.next_frame - window_frames;
    std::int32_t flags = 0;
    if (chain.last_overload >= window_start)
        flags |= code_of("STATUS_OVERLOAD");
    if (chain.last_invalid >= window_start)
        flags |= code_of("STATUS_INVALID_SAMPLES");
    if (chain.last_dropout >= window_start)
        flags |= code_of("STATUS_DROPOUT");
    if (chain.next_frame - chain.settled_from < window_frames)
        flags |= code_of("STATUS_SETTLING");
    return flags;
}

std::int32_t Measurement::status(const AnalyserSettings& s, Channel ch) {
    const std::array<bool, 2> drive = drive_for(s, ch);
    const bool live_input = source_kind_ == SourceKind::SoundCard && &input(s) == source_.get();
    std::int32_t flags = 0;
    for (Channel c : {ch, other(ch)}) {
        if (c != ch && !uses_both(s))
            break;
        if (catch_up(s, c, drive))
            flags |= window_flags(c);
        else
            flags |= code_of("STATUS_NO_INPUT");
        if (live_input && s.input_domain == kAnalogueDomain && !s.calibrated[index(c)])
            flags |= code_of("STATUS_UNCALIBRATED");
    }
    return flags;
}

double Measurement::volts(const AnalyserSettings& s, Channel ch, double level) const {
    // Samples are in full-scale units: a full-scale sine has amplitude 1 and RMS 1/sqrt 2.
    return level * std::numbers::sqrt2 * full_scale_v(s, ch);
}

Quantity Measurement::measure(const AnalyserSettings& s, Channel ch) {
    const std::array<bool, 2> drive = drive_for(s, ch);
    const FunctionKind kind = s.function->kind;
    const bool both = uses_both(s);
    if (!catch_up(s, ch, drive))
        return {};
    if (both && !catch_up(s, other(ch), drive))
        return {};
    const measure::ChannelMeter& meter = *chains_[index(ch)].meter;
    const measure::ChannelMeter& other_meter = *chains_[index(other(ch))].meter;
    switch (kind) {
        case FunctionKind::Level:
        case FunctionKind::Noise:
            return {volts(s, ch, meter.level()), 0.0};
        case FunctionKind::Thdn: {
            // The residual against the whole signal in the band, in volts, so that a level unit
            // shows the residual and a relative unit the ratio.
            const double total_v = volts(s, ch, meter.level());
            return {meter.thdn_ratio() * total_v, total_v};
        }
        case FunctionKind::Balance:
            return {volts(s, ch, meter.level()), volts(s, other(ch), other_meter.level())};
        case FunctionKind::Crosstalk: {
            // Measured selectively at the driven channel's frequency, so the undriven channel's
            // own noise drops out.
            const double driven_hz = other_meter.frequency_hz();
            if (driven_hz <= 0.0)
                return {};
            return {volts(s, ch, meter.level_at(driven_hz)),
                    volts(s, other(ch), other_meter.level_at(driven_hz))};
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
            return express_level(q.value, s.unit, full_scale_v(s, ch));
        case UnitFamily::Frequency:
        case UnitFamily::Unsupported:
            break;
    }
    return q.value;
}

}  // namespace vantel::instrument
