// SPDX-License-Identifier: MIT
#pragma once

// The detectors that need more than a history window: quasi-peak ballistics (a running state
// per sample) and true peak (an interpolation filter, designed here and applied on demand).

#include <array>
#include <span>
#include <vector>

namespace vantel::measure {

// Time constants of the BS.468-4 quasi-peak detector. The standard gives none; these were fitted
// to its tone-burst tables (Table 2 single bursts, Table 3 repeated bursts; see detectors.cpp)
// and the tests hold them to those tables.
struct QuasiPeakTiming {
    double charge_s, discharge_s;  // the peak rectifier: charges fast, holds the peak
    double meter1_s, meter2_s;     // the meter: two first-order lags, as a damped movement
};
QuasiPeakTiming bs468_quasi_peak_timing();

// 2x upsampling by a half-band interpolator: each input sample is passed on, followed by the
// point halfway to the next one, interpolated from `TapsPerSide` samples on either side by a
// Kaiser-windowed sinc (beta `kaiser_beta`). The output runs TapsPerSide - 1 samples late.
template <int TapsPerSide>
class HalfBandUpsampler {
public:
    explicit HalfBandUpsampler(double kaiser_beta);
    // `out` takes 2 in.size() points; blocks of up to `kMaxBlock` samples.
    void process(std::span<const double> in, std::span<double> out);
    void reset();
    static constexpr std::size_t kMaxBlock = 1024;

private:
    std::array<double, TapsPerSide> weights_{};  // of x[m - k] + x[m + 1 + k] for point m + 1/2
    // The same, each twice: a vector register's worth, for two points at once.
    alignas(16) std::array<double, 2 * TapsPerSide> weight_pairs_{};
    // The last 2 TapsPerSide - 1 inputs, then the block.
    std::array<double, 2 * TapsPerSide - 1 + kMaxBlock> extended_{};
};

// A quasi-peak detector on the full-wave rectified signal: a peak rectifier that charges towards
// the input with one time constant while the input is above it and discharges towards zero with
// the other (a diode, a capacitor and a bleed resistor), read by a meter whose movement follows
// as two first-order lags. The rectifier works on the signal oversampled 8 times (three
// half-band stages), as an analogue rectifier sees the wave between the samples: on the samples
// alone a steady 12 kHz tone at 48 kHz read anywhere from -2.7 dB to +0.3 dB of its RMS,
// depending on where the samples fell on the wave; oversampled, every tone up to 20 kHz reads
// within 0.1 dB of it at any phase.
class QuasiPeakDetector {
public:
    static constexpr int kOversampling = 8;
    QuasiPeakDetector(double rate_hz, const QuasiPeakTiming& timing);
    void process(std::span<const double> samples);
    void reset();
    // The meter's deflection, sine-calibrated: a steady 1 kHz sine reads its RMS.
    double reading() const { return calibration_ * meter_; }

private:
    static constexpr std::size_t kBlock = 256;  // input samples per pass of the stages
    // Stage 1 keeps tones up to 0.4535 fs (20 kHz at 44.1 kHz) within 0.06 dB between the
    // samples; the later stages see the signal in ever less of their band (0.23 and 0.11 of
    // their rates), and keep it within 0.01 and 0.015 dB with a few taps.
    HalfBandUpsampler<16> stage1_{4.75};
    HalfBandUpsampler<4> stage2_{6.75};
    HalfBandUpsampler<2> stage3_{4.0};
    std::vector<double> twice_, four_times_, eight_times_, highest_;
    double charge_, discharge_;    // per point of the oversampled signal
    double discharge_per_sample_;  // (1 - discharge_)^8: a sample's points all below
    double meter1_, meter2_;       // per input sample
    double calibration_ = 1.0;
    double rectified_ = 0.0, lag_ = 0.0, meter_ = 0.0;
};

// ITU-R BS.1770-4 Annex 2 style 4x oversampling: the three interpolated phases between samples
// (the fourth is the sample itself) by a Kaiser-windowed sinc, 16 taps per phase.
class TruePeakInterpolator {
public:
    static constexpr int kTapsPerPhase = 16;
    static constexpr int kPhases = 4;
    TruePeakInterpolator();
    // The largest magnitude over the samples and the points between them. Points between
    // samples need kTapsPerPhase/2 samples on each side: they are found for the span's inner
    // part, the samples themselves everywhere.
    double peak(std::span<const double> samples) const;

private:
    std::array<std::array<double, kTapsPerPhase>, kPhases - 1> taps_{};
};

}  // namespace vantel::measure
