// SPDX-License-Identifier: MIT
#pragma once

// The measuring engine: sampled signals in, readings out, as an analyser's hardware would
// measure them. Standard library only, so that any sample source (simulated device, file,
// sound server) can feed it and the tests run without Qt.
//
// Signal path of one channel (ChannelMeter::process):
//   samples -> non-finite samples as 0 -> DC blocker (the Wide band) -> [Audio band limit]
//           -> weighting -> detector history
// (the peak detectors of the unweighted Wide band read the samples before the DC blocker)
// Readings (ChannelMeter::level and friends) are computed on demand from the last 200 ms of
// history, so a panel that polls 5 times a second pays for 5 analyses, not for 48 000.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vantel::measure {

// Weighting curves, by what they are (the analyser maps its codes onto these).
enum class Curve {
    Flat,         // code 0: no weighting
    A,            // code 1: IEC 61672-1 A-weighting, 0 dB at 1 kHz (Annex E formula)
    Highpass400,  // code 2: the analyser's unnamed filter, a 2nd-order Butterworth high-pass at
                  //         400 Hz
    Ccir468,      // code 3: ITU-R BS.468-4, 0 dB at 1 kHz
    Ccir468At2k,  // code 4: the same curve normalised to 0 dB at 2 kHz (-5.629 dB against code 3)
};

// Detectors, each calibrated so that a steady sine reads its RMS value.
enum class Detector { Rms, TruePeak, SamplePeak, QuasiPeak };

// The band a function measures in, before the weighting.
enum class Band {
    Wide,   // level, balance, frequency: flat within +-0.01 dB from 20 Hz to 20 kHz; DC removed
    Audio,  // noise and THD+N: 20 Hz to 20 kHz, as AES17's measurement band, flat within
            // 0.02 dB over it (to Nyquist at rates under 42.9 kHz)
};

struct ChainSettings {
    Band band = Band::Wide;
    Curve weighting = Curve::Flat;
    Detector detector = Detector::Rms;
    bool operator==(const ChainSettings&) const = default;
};

// One second-order section, a0 normalised to 1: y = b0 x + b1 x' + b2 x'' - a1 y' - a2 y''.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// A digital filter as a cascade of sections, designed for one sample rate. A pure value: it
// holds no running state, so a design can be checked by its response alone.
struct FilterDesign {
    double rate_hz = 0.0;
    std::vector<Biquad> sections;

    // The complex response at a frequency (Hz), from the sections' transfer functions.
    std::complex<double> response(double frequency_hz) const;
    double gain_db(double frequency_hz) const;
};

// The weighting curve for a sample rate. Poles are placed by the matched z-transform (so they
// keep their frequencies, which the bilinear transform bends towards Nyquist) and the zeros are
// fitted to the curve's magnitude up to 20 kHz (and, lightly weighted, above it up to 0.47 fs),
// so the curve holds at 44.1 and 48 kHz too. Above 20 kHz A is made to fall faster than its
// formula (which loses only 10 dB in the first octave): at least 12 dB per octave.
// Throws std::invalid_argument outside kMinimumRateHz..kMaximumRateHz.
FilterDesign design_weighting(Curve curve, double rate_hz);
// A band as a filter. Wide: the DC blocker, a 2nd-order Butterworth high-pass at 2 Hz
// (-0.0004 dB at 20 Hz). Audio: the DC blocker followed by design_audio_limit.
FilterDesign design_band(Band band, double rate_hz);
// The Audio band's 20 Hz-20 kHz limit alone: a 4th-order Butterworth high-pass -3 dB at
// 9.37 Hz (-0.01 dB at 20 Hz), flat within 0.02 dB to 20 kHz and 60 dB down from 24 kHz (or
// just under Nyquist).
FilterDesign design_audio_limit(double rate_hz);

// Running state of a design; processes blocks of any length, in place if asked.
class WeightingFilter {
public:
    explicit WeightingFilter(const FilterDesign& design);
    void process(std::span<const double> in, std::span<double> out);
    void reset();
    // The state of an input that has held `input` for ever: each section at its steady output
    // for it. reset() is settle(0).
    void settle(double input);

    // A section as the loop runs it: the feedback coefficients negated, so that every step is
    // a product added.
    struct Section {
        double b0, b1, b2, minus_a1, minus_a2;
    };

private:
    std::vector<Section> sections_;
    std::vector<double> state1_, state2_;  // each section's two delays
};

// The readings' history window, as instruments refresh theirs.
inline constexpr double kReadingWindowS = 0.2;
// The rates the chain measures at. Below 8 kHz the Audio band (to 20 kHz) would not even reach
// half its width; 768 kHz is the highest rate of any audio interface (16 times 48 kHz), and
// bounds what a history or a design costs.
inline constexpr double kMinimumRateHz = 8000.0;
inline constexpr double kMaximumRateHz = 768000.0;
// Throws std::invalid_argument, naming the rate and the bound, outside those rates (NaN too).
void check_measurable_rate(double rate_hz);
// Designs every band and weighting at `rate_hz`, so that a source can be refused when it opens
// rather than when it is first measured; throws what a design throws.
void check_designs(double rate_hz);

class History;
class QuasiPeakDetector;

// One channel's measuring chain: band -> weighting -> detector, plus the analysis of the
// fundamental. Samples are doubles in full-scale units (a full-scale sine has amplitude 1.0 and,
// as AES17 defines, reads 0 dBFS). Readings cover the last 200 ms (the detectors' own
// ballistics for quasi-peak).
class ChannelMeter {
public:
    explicit ChannelMeter(double rate_hz);  // throws std::invalid_argument outside 8-768 kHz
    ~ChannelMeter();
    ChannelMeter(ChannelMeter&&) noexcept;
    ChannelMeter& operator=(ChannelMeter&&) noexcept;

    double rate_hz() const { return rate_hz_; }
    const ChainSettings& settings() const { return settings_; }
    // Same settings: nothing happens. Other settings: the filters are redesigned and the
    // history restarts (the next reading is that of the new chain).
    void configure(const ChainSettings& settings);
    void process(std::span<const double> samples);  // streaming, any block length
    // Forgets everything (a gap in the input, or new settings), and starts the filters as
    // though the input had held `steady_input` for ever: given the mean of what comes next, a
    // signal's DC leaves no step behind to decay through the readings.
    void restart(double steady_input = 0.0);

    // The detector's reading in sample units, sine-calibrated: a sine of amplitude 1 reads
    // 1/sqrt(2) under every detector. Silence reads exactly 0, never NaN or infinity.
    double level() const;
    // THD+N as AES17 defines it: RMS of what is left once the fundamental is removed, over
    // 20 Hz-20 kHz (after the weighting, if any), divided by the RMS of the whole signal in the
    // same band. A ratio (0.001 = 0.1 %). 0 for silence; 1 for noise without a fundamental.
    double thdn_ratio() const;
    // The fundamental's frequency in Hz; 0 when there is none (silence, noise only).
    double frequency_hz() const;
    // The RMS of the component at `frequency_hz` alone (a selective measurement, as cross-talk
    // needs: the undriven channel at the driven channel's frequency), in the Wide band.
    double level_at(double frequency_hz) const;

    // Input samples that were NaN or infinite and were measured as 0 since the last restart.
    std::size_t non_finite_samples() const { return non_finite_samples_; }

private:
    struct Analysis;
    void build_chain();
    const History& chain_history() const;
    double measure_level() const;  // level() without the memory of the last one
    std::optional<double> crossing_period_now() const;

    double rate_hz_;
    ChainSettings settings_;
    std::size_t window_samples_;
    WeightingFilter dc_blocker_;
    WeightingFilter chain_filter_;  // the Audio band limit (if any), then the weighting
    // What the detector's history (chain_) holds: the filtered chain, the input as it arrives
    // (the peaks of an unweighted Wide band), or nothing of its own (wide_ serves both).
    enum class DetectorInput { Filtered, AsArrives, Wide };
    DetectorInput detector_reads_ = DetectorInput::Wide;
    std::unique_ptr<History> wide_;
    std::unique_ptr<History> chain_;
    std::unique_ptr<QuasiPeakDetector> quasi_peak_;
    // Readings are const but reuse scratch (spectrum tables, residual): one thread per meter.
    std::unique_ptr<Analysis> analysis_;
    std::vector<double> block_in_, block_wide_, block_chain_;
    std::size_t non_finite_samples_ = 0;
    std::uint64_t samples_seen_ = 0;  // since construction, and bumped by every restart
};

}  // namespace vantel::measure
