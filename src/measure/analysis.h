// SPDX-License-Identifier: MIT
#pragma once

// The analysis behind the readings, on a window of history: the fundamental (found by its zero
// crossings or its spectrum, then fitted by least squares), the residual's power in a band, and
// the selective amplitude at a given frequency. Run on demand, about 5 times a second.

#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace vantel::measure {

// The mean of the squares of `x`; 0 for nothing.
double mean_square(std::span<const double> x);

// A history of the last `capacity` samples, kept twice over so that any recent stretch is one
// contiguous span.
class History {
public:
    explicit History(std::size_t capacity);
    void push(std::span<const double> samples);
    // The newest min(count, size()) samples, oldest first.
    std::span<const double> newest(std::size_t count) const;
    std::size_t size() const { return filled_; }
    void clear();

private:
    std::vector<double> buffer_;
    std::size_t capacity_, position_ = 0, filled_ = 0;
};

// The fitted fundamental: x[n] ~ a cos(w t) + b sin(w t) + dc with t = n - (N - 1)/2.
struct Sine {
    double w = 0.0;  // rad/sample
    double a = 0.0, b = 0.0, dc = 0.0;
    double mean_square() const { return 0.5 * (a * a + b * b); }
};

// The period (samples) from the positive-going zero crossings, found with hysteresis at a tenth
// of the peak; none unless at least one whole period fits and the periods agree within 2 %.
std::optional<double> crossing_period(std::span<const double> x);

// What the fits work in, kept between readings so that a reading allocates nothing once the
// first has run: the phasors cos(w t), sin(w t) of the window, and the residual.
struct FitScratch {
    std::vector<double> cos_wt, sin_wt;
    std::vector<double> residual;
};

// The fundamental of a window: start from the crossings (or from the largest spectral peak when
// they are irregular), then fit amplitude, phase, frequency and DC by Gauss-Newton (IEEE 1057's
// four-parameter fit) until the frequency stops moving. None for silence, or when the tone does
// not stand 30 dB above the residual's power per frequency bin (noise alone).
class Spectrum;
// `start_w` (rad/sample), when positive, replaces the crossings as the starting point; the
// residual (x minus the fitted sine) is left in `scratch.residual` when a fundamental is found.
std::optional<Sine> find_fundamental(std::span<const double> x, Spectrum& spectrum, double start_w,
                                     FitScratch& scratch);
// The least-squares sine at a fixed frequency (amplitude, phase and DC).
Sine fit_at(std::span<const double> x, double w, FitScratch& scratch);
// x minus the sine.
void subtract(std::span<const double> x, const Sine& sine, std::span<double> residual,
              FitScratch& scratch);

// Power spectra of the newest power-of-two samples of a window (8192 of the 9600 at 48 kHz),
// windowed by a 4-term Blackman-Harris (sidelobes 92 dB down). Keeps its tables between calls.
class Spectrum {
public:
    explicit Spectrum(std::size_t length);
    std::size_t fft_size() const { return size_; }
    // |X_k|^2 for k = 0 .. fft_size/2 of the newest fft_size() samples of x (zero-padded if x
    // is shorter), windowed.
    const std::vector<double>& power(std::span<const double> x);
    // The mean square of x between low_hz and high_hz (bins whose centre lies in the band),
    // for a stationary signal.
    double band_mean_square(std::span<const double> x, double rate_hz, double low_hz,
                            double high_hz);
    // The strongest bin's frequency (rad/sample) above ~2 bins, interpolated on the log power;
    // 0 for an all-zero window.
    double peak_w(std::span<const double> x);
    // The selective amplitude at w (rad/sample): a window-weighted least-squares sine, so that
    // other components leak in only through the window's sidelobes.
    double amplitude_at(std::span<const double> x, double w);

private:
    FitScratch scratch_;
    void use_window(std::size_t length);
    void transform(std::vector<double>& re, std::vector<double>& im) const;
    std::vector<double> window_, selective_window_;
    double window_power_ = 0.0;  // sum of the squared window
    std::size_t size_;           // FFT length (real input)
    std::vector<double> twiddle_re_, twiddle_im_, packed_re_, packed_im_;
    std::vector<double> power_;
};

}  // namespace vantel::measure
