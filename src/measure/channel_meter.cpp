// SPDX-License-Identifier: MIT
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>

#include "measure/analysis.h"
#include "measure/detectors.h"
#include "measure/measure.h"

namespace vantel::measure {

namespace {

constexpr double kSineRmsPerPeak = std::numbers::sqrt2 / 2.0;
// AES17's measurement band for THD+N.
constexpr double kBandLowHz = 20.0, kBandHighHz = 20000.0;
// A fundamental counts as inside the band up to this far (relative) beyond its edges: a 20 kHz
// tone, the last point of every AES17 sweep, is fitted at 19999.99999 or 20000.00001 Hz, and
// the band's edges are inclusive. 0.1 % is far above the fit's error (under 1 ppm); a tone that
// far out reads 19.98 Hz or 20.02 kHz on four figures.
constexpr double kBandEdgeTolerance = 1e-3;
// Samples go through the filters in blocks of this many, so each stage runs a tight loop.
constexpr std::size_t kBlock = 256;

double checked_rate(double rate_hz) {
    check_measurable_rate(rate_hz);
    return rate_hz;
}

}  // namespace

// What the readings need besides the histories: scratch for the analyses, kept between readings
// so that a reading allocates nothing once the first has run.
struct ChannelMeter::Analysis {
    explicit Analysis(std::size_t window) : spectrum(window) {}
    Spectrum spectrum;
    TruePeakInterpolator interpolator;
    FitScratch fit;
    // The fundamental THD+N fitted last (rad/sample), where the next fit starts when the
    // crossings agree: a steady tone then settles in one pass instead of three.
    double last_fit_w = 0.0;
    // The fundamental's period by its crossings, shared by the readings of one moment (level
    // and THD+N both want it): valid while no sample has come in since.
    std::uint64_t period_at = ~std::uint64_t{0};
    std::optional<double> period;
    // The last level, valid likewise: a client polling faster than samples arrive (several
    // reads in one cycle, or a panel between two periods of a live input) costs nothing.
    std::uint64_t level_at = ~std::uint64_t{0};
    double level = 0.0;
};

std::optional<double> ChannelMeter::crossing_period_now() const {
    Analysis& a = *analysis_;
    if (a.period_at != samples_seen_) {
        a.period = crossing_period(wide_->newest(window_samples_));
        a.period_at = samples_seen_;
    }
    return a.period;
}

ChannelMeter::ChannelMeter(double rate_hz)
    : rate_hz_(checked_rate(rate_hz)),
      window_samples_(static_cast<std::size_t>(std::lround(kReadingWindowS * rate_hz))),
      dc_blocker_(design_band(Band::Wide, rate_hz)),
      chain_filter_(FilterDesign{rate_hz, {}}),
      wide_(std::make_unique<History>(window_samples_ + TruePeakInterpolator::kTapsPerPhase)),
      chain_(std::make_unique<History>(window_samples_ + TruePeakInterpolator::kTapsPerPhase)),
      analysis_(std::make_unique<Analysis>(window_samples_)),
      block_in_(kBlock),
      block_wide_(kBlock),
      block_chain_(kBlock) {
    build_chain();
}

ChannelMeter::~ChannelMeter() = default;
ChannelMeter::ChannelMeter(ChannelMeter&&) noexcept = default;
ChannelMeter& ChannelMeter::operator=(ChannelMeter&&) noexcept = default;

// The chain after the DC blocker, in signal order: the Audio band's limit (if asked), then the
// weighting; the detector reads what comes out. The peak detectors of the Wide band without a
// weighting read the signal as it arrives, DC and all: the largest sample is what clips, and
// BS.1770's true peak is measured with DC. RMS and quasi-peak stay AC-coupled, as an AC
// meter's are.
void ChannelMeter::build_chain() {
    FilterDesign chain{rate_hz_, {}};
    if (settings_.band == Band::Audio)
        chain = design_audio_limit(rate_hz_);
    const FilterDesign weighting = design_weighting(settings_.weighting, rate_hz_);
    chain.sections.insert(chain.sections.end(), weighting.sections.begin(),
                          weighting.sections.end());
    const bool peak =
        settings_.detector == Detector::SamplePeak || settings_.detector == Detector::TruePeak;
    detector_reads_ = !chain.sections.empty() ? DetectorInput::Filtered
                      : peak                  ? DetectorInput::AsArrives
                                              : DetectorInput::Wide;
    chain_filter_ = WeightingFilter(chain);
    quasi_peak_.reset();
    if (settings_.detector == Detector::QuasiPeak)
        quasi_peak_ = std::make_unique<QuasiPeakDetector>(rate_hz_, bs468_quasi_peak_timing());
    restart();
}

void ChannelMeter::configure(const ChainSettings& settings) {
    if (settings == settings_)
        return;
    settings_ = settings;
    build_chain();
}

void ChannelMeter::restart(double steady_input) {
    // As though the input had held `steady_input` for ever: the DC blocker's output, and so
    // everything after it, at rest.
    dc_blocker_.settle(steady_input);
    chain_filter_.reset();
    wide_->clear();
    chain_->clear();
    if (quasi_peak_)
        quasi_peak_->reset();
    non_finite_samples_ = 0;
    ++samples_seen_;  // the histories changed: nothing computed before holds
}

void ChannelMeter::process(std::span<const double> samples) {
    while (!samples.empty()) {
        const std::size_t n = std::min(samples.size(), kBlock);
        const std::span<double> in(block_in_.data(), n), wide(block_wide_.data(), n),
            chain(block_chain_.data(), n);
        // A NaN or infinity would stay in the filters' state for good: it is measured as 0
        // and counted instead.
        for (std::size_t i = 0; i < n; ++i) {
            const double x = samples[i];
            const bool finite = std::isfinite(x);
            in[i] = finite ? x : 0.0;
            non_finite_samples_ += finite ? 0 : 1;
        }
        dc_blocker_.process(in, wide);
        wide_->push(wide);
        switch (detector_reads_) {
            case DetectorInput::Filtered:
                chain_filter_.process(wide, chain);
                chain_->push(chain);
                break;
            case DetectorInput::AsArrives:
                chain_->push(in);
                break;
            case DetectorInput::Wide:
                break;
        }
        if (quasi_peak_)
            quasi_peak_->process(detector_reads_ == DetectorInput::Filtered ? chain : wide);
        samples = samples.subspan(n);
        samples_seen_ += n;
    }
}

const History& ChannelMeter::chain_history() const {
    return detector_reads_ == DetectorInput::Wide ? *wide_ : *chain_;
}

double ChannelMeter::level() const {
    Analysis& a = *analysis_;
    if (a.level_at != samples_seen_) {
        a.level = measure_level();
        a.level_at = samples_seen_;
    }
    return a.level;
}

double ChannelMeter::measure_level() const {
    const std::span<const double> y = chain_history().newest(window_samples_);
    if (y.empty())
        return 0.0;
    switch (settings_.detector) {
        case Detector::Rms: {
            // Instruments integrate over whole periods of the fundamental, so that a tone's
            // reading does not ripple with where the window starts. The period comes from the
            // unweighted signal: the weighting changes the waveform, not its period.
            std::size_t count = y.size();
            if (const auto period = crossing_period_now()) {
                const double periods = std::floor(static_cast<double>(y.size()) / *period);
                if (periods >= 1.0)
                    count = std::min(y.size(),
                                     static_cast<std::size_t>(std::lround(periods * *period)));
            }
            return std::sqrt(mean_square(y.subspan(y.size() - count)));
        }
        case Detector::SamplePeak: {
            double peak = 0.0;
            for (double v : y)
                peak = std::max(peak, std::abs(v));
            return kSineRmsPerPeak * peak;
        }
        case Detector::TruePeak:
            return kSineRmsPerPeak * analysis_->interpolator.peak(chain_history().newest(
                                         window_samples_ + TruePeakInterpolator::kTapsPerPhase));
        case Detector::QuasiPeak:
            return quasi_peak_ ? quasi_peak_->reading() : 0.0;
    }
    return 0.0;
}

double ChannelMeter::thdn_ratio() const {
    const std::span<const double> y = chain_history().newest(window_samples_);
    if (y.empty())
        return 0.0;
    Analysis& a = *analysis_;
    // The fundamental's frequency from the unweighted signal's crossings, when they are
    // regular; the fit on the weighted signal refines it.
    double start_w = 0.0;
    if (const auto period = crossing_period_now())
        start_w = 2.0 * std::numbers::pi / *period;
    if (start_w > 0.0 && std::abs(start_w - a.last_fit_w) <= 1e-3 * start_w)
        start_w = a.last_fit_w;
    const auto fundamental = find_fundamental(y, a.spectrum, start_w, a.fit);
    a.last_fit_w = fundamental ? fundamental->w : 0.0;
    if (!fundamental) {
        // No fundamental: whatever lies in the band is noise and distortion.
        const double total = a.spectrum.band_mean_square(y, rate_hz_, kBandLowHz, kBandHighHz);
        return total > 0.0 ? 1.0 : 0.0;
    }
    const double residual =
        a.spectrum.band_mean_square(a.fit.residual, rate_hz_, kBandLowHz, kBandHighHz);
    const double fundamental_hz = fundamental->w * rate_hz_ / (2.0 * std::numbers::pi);
    // A fundamental outside the band is none of the band's signal: what the band holds is all
    // noise and distortion, and THD+N reads 1 (100 %).
    const double in_band = fundamental_hz >= kBandLowHz * (1.0 - kBandEdgeTolerance) &&
                                   fundamental_hz <= kBandHighHz * (1.0 + kBandEdgeTolerance)
                               ? fundamental->mean_square()
                               : 0.0;
    // The least-squares residual is orthogonal to the fitted sine, so the band's total power
    // is the sum of the two.
    const double total = in_band + residual;
    return total > 0.0 ? std::sqrt(residual / total) : 0.0;
}

double ChannelMeter::frequency_hz() const {
    const std::span<const double> x = wide_->newest(window_samples_);
    const auto fundamental = find_fundamental(x, analysis_->spectrum, 0.0, analysis_->fit);
    return fundamental ? fundamental->w * rate_hz_ / (2.0 * std::numbers::pi) : 0.0;
}

double ChannelMeter::level_at(double frequency_hz) const {
    const std::span<const double> x = wide_->newest(window_samples_);
    const double w = 2.0 * std::numbers::pi * frequency_hz / rate_hz_;
    return kSineRmsPerPeak * analysis_->spectrum.amplitude_at(x, w);
}

}  // namespace vantel::measure
