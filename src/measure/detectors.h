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

// A quasi-peak detector on the full-wave rectified signal: a peak rectifier that charges towards
// the input with one time constant while the input is above it and discharges towards zero with
// the other (a diode, a capacitor and a bleed resistor), read by a meter whose movement follows
// as two first-order lags.
class QuasiPeakDetector {
public:
    QuasiPeakDetector(double rate_hz, const QuasiPeakTiming& timing);
    void process(std::span<const double> samples);
    void reset();
    // The meter's deflection, sine-calibrated: a steady 1 kHz sine reads its RMS.
    double reading() const { return calibration_ * meter_; }

private:
    double charge_, discharge_, meter1_, meter2_;  // per-sample coefficients
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
