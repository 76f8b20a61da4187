// SPDX-License-Identifier: MIT
#include "measure/analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "measure/linear_solve.h"
#include "measure/vector_pair.h"

namespace vantel::measure {

namespace {

using cplx = std::complex<double>;

// cos(w t) and sin(w t) for t = n - (N - 1)/2. Each block of 64 starts from a directly computed
// phasor and turns it by a table of small rotations: one rounding per value, not a recurrence's
// drift over thousands of steps.
void phasors(double w, std::size_t count, std::vector<double>& c, std::vector<double>& s) {
    constexpr std::size_t kBlock = 64;
    c.resize(count);
    s.resize(count);
    std::array<double, kBlock> rc{}, rs{};
    for (std::size_t k = 0; k < kBlock; ++k) {
        rc[k] = std::cos(w * static_cast<double>(k));
        rs[k] = std::sin(w * static_cast<double>(k));
    }
    const double centre = 0.5 * (static_cast<double>(count) - 1.0);
    for (std::size_t start = 0; start < count; start += kBlock) {
        const double phase = w * (static_cast<double>(start) - centre);
        const double bc = std::cos(phase), bs = std::sin(phase);
        const std::size_t end = std::min(count, start + kBlock);
        for (std::size_t n = start; n < end; ++n) {
            const std::size_t k = n - start;
            c[n] = bc * rc[k] - bs * rs[k];
            s[n] = bs * rc[k] + bc * rs[k];
        }
    }
}

}  // namespace

double mean_square(std::span<const double> x) {
    // Four partial sums: independent chains the processor can run side by side.
    std::array<double, 4> sum{};
    std::size_t n = 0;
    for (; n + 4 <= x.size(); n += 4)
        for (std::size_t k = 0; k < 4; ++k)
            sum[k] += x[n + k] * x[n + k];
    for (; n < x.size(); ++n)
        sum[0] += x[n] * x[n];
    return x.empty() ? 0.0 : (sum[0] + sum[1] + sum[2] + sum[3]) / static_cast<double>(x.size());
}

History::History(std::size_t capacity) : buffer_(2 * capacity, 0.0), capacity_(capacity) {}

void History::push(std::span<const double> samples) {
    if (samples.size() > capacity_)
        samples = samples.subspan(samples.size() - capacity_);
    filled_ = std::min(capacity_, filled_ + samples.size());
    while (!samples.empty()) {
        const std::size_t n = std::min(samples.size(), capacity_ - position_);
        std::copy_n(samples.begin(), n, buffer_.begin() + static_cast<std::ptrdiff_t>(position_));
        std::copy_n(samples.begin(), n,
                    buffer_.begin() + static_cast<std::ptrdiff_t>(position_ + capacity_));
        position_ = (position_ + n) % capacity_;
        samples = samples.subspan(n);
    }
}

std::span<const double> History::newest(std::size_t count) const {
    count = std::min(count, filled_);
    return {buffer_.data() + position_ + capacity_ - count, count};
}

void History::clear() {
    std::fill(buffer_.begin(), buffer_.end(), 0.0);
    position_ = 0;
    filled_ = 0;
}

std::optional<double> crossing_period(std::span<const double> x) {
    // The peak, two lanes at a time (the sign bits cleared), then the larger lane.
    Pair highest{0.0, 0.0};
    std::size_t n = 0;
    for (; n + 2 <= x.size(); n += 2)
        highest = max_of(highest, magnitude(load_pair(x.data() + n)));
    double peak = std::max(highest[0], highest[1]);
    for (; n < x.size(); ++n)
        peak = std::max(peak, std::abs(x[n]));
    if (peak == 0.0)
        return std::nullopt;
    const double hysteresis = 0.1 * peak;
    // A positive-going crossing counts once the signal, having been below -hysteresis, reaches
    // +hysteresis; its time is the last zero crossing before that, interpolated linearly. Each
    // state has a loop of its own, so that most samples cost one comparison.
    std::vector<double> crossings;
    n = 1;
    while (n < x.size()) {
        while (n < x.size() && !(x[n] < -hysteresis))  // waiting to be armed
            ++n;
        double candidate = -1.0;
        for (++n; n < x.size(); ++n) {  // armed: the next crossing that reaches +hysteresis
            if (x[n] < -hysteresis) {
                candidate = -1.0;
                continue;
            }
            if (x[n - 1] < 0.0 && x[n] >= 0.0)
                candidate = static_cast<double>(n - 1) + x[n - 1] / (x[n - 1] - x[n]);
            if (candidate >= 0.0 && x[n] >= hysteresis) {
                crossings.push_back(candidate);
                ++n;
                break;
            }
        }
    }
    if (crossings.size() < 2)
        return std::nullopt;
    const double period =
        (crossings.back() - crossings.front()) / static_cast<double>(crossings.size() - 1);
    for (std::size_t i = 1; i < crossings.size(); ++i)
        if (std::abs(crossings[i] - crossings[i - 1] - period) > 0.05 * period)
            return std::nullopt;
    return period;
}

Sine fit_at(std::span<const double> x, double w, FitScratch& scratch) {
    std::vector<double>& c = scratch.cos_wt;
    std::vector<double>& s = scratch.sin_wt;
    phasors(w, x.size(), c, s);
    std::array<std::array<long double, 3>, 3> m{};
    std::array<long double, 3> v{};
    double cc = 0, cs = 0, ss = 0, c1 = 0, s1 = 0, xc = 0, xs = 0, x1 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        cc += c[n] * c[n];
        cs += c[n] * s[n];
        ss += s[n] * s[n];
        c1 += c[n];
        s1 += s[n];
        xc += x[n] * c[n];
        xs += x[n] * s[n];
        x1 += x[n];
    }
    m = {{{cc, cs, c1}, {cs, ss, s1}, {c1, s1, static_cast<long double>(x.size())}}};
    v = {xc, xs, x1};
    if (!solve_in_place(m, v))
        return Sine{w, 0.0, 0.0, x1 / static_cast<double>(std::max<std::size_t>(x.size(), 1))};
    return Sine{w, static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])};
}

void subtract(std::span<const double> x, const Sine& sine, std::span<double> residual,
              FitScratch& scratch) {
    std::vector<double>& c = scratch.cos_wt;
    std::vector<double>& s = scratch.sin_wt;
    phasors(sine.w, x.size(), c, s);
    for (std::size_t n = 0; n < x.size(); ++n)
        residual[n] = x[n] - (sine.a * c[n] + sine.b * s[n] + sine.dc);
}

namespace {

// IEEE 1057's four-parameter fit. Each pass gathers the normal sums of the columns cos, sin, 1,
// t cos and t sin once; the three-parameter solution at the current frequency and the
// Gauss-Newton step in frequency (column t (-a sin + b cos)) both come from them.
std::optional<Sine> gauss_newton(std::span<const double> x, double w, FitScratch& scratch) {
    const std::size_t count = x.size();
    const double centre = 0.5 * (static_cast<double>(count) - 1.0);
    std::vector<double>& c = scratch.cos_wt;
    std::vector<double>& s = scratch.sin_wt;
    for (int iteration = 0; iteration < 12; ++iteration) {
        phasors(w, count, c, s);
        // Columns: 0 cos, 1 sin, 2 one, 3 t cos, 4 t sin (t scaled to [-1, 1]). Written out
        // sum by sum: independent chains the processor overlaps. cos^2 + sin^2 = 1 gives the
        // sin^2 sums from the cos^2 ones.
        const double scale = 1.0 / std::max(centre, 1.0);
        double cc = 0, cs = 0, c1 = 0, s1 = 0, tcc = 0, tcs = 0, tc = 0, ts = 0, ttcc = 0, ttcs = 0,
               tt = 0, t1 = 0, xc = 0, xs = 0, x1 = 0, xtc = 0, xts = 0;
        for (std::size_t n = 0; n < count; ++n) {
            const double t = (static_cast<double>(n) - centre) * scale;
            const double cn = c[n], sn = s[n], xn = x[n];
            const double tcn = t * cn, tsn = t * sn;
            cc += cn * cn;
            cs += cn * sn;
            c1 += cn;
            s1 += sn;
            tcc += tcn * cn;
            tcs += tcn * sn;
            tc += tcn;
            ts += tsn;
            ttcc += tcn * tcn;
            ttcs += tcn * tsn;
            tt += t * t;
            t1 += t;
            xc += xn * cn;
            xs += xn * sn;
            x1 += xn;
            xtc += xn * tcn;
            xts += xn * tsn;
        }
        const double n_total = static_cast<double>(count);
        const std::array<std::array<double, 5>, 5> g = {{{cc, cs, c1, tcc, tcs},
                                                         {cs, n_total - cc, s1, tcs, t1 - tcc},
                                                         {c1, s1, n_total, tc, ts},
                                                         {tcc, tcs, tc, ttcc, ttcs},
                                                         {tcs, t1 - tcc, ts, ttcs, tt - ttcc}}};
        const std::array<double, 5> r = {xc, xs, x1, xtc, xts};
        std::array<std::array<long double, 3>, 3> m3{};
        std::array<long double, 3> v3{};
        for (std::size_t i = 0; i < 3; ++i) {
            v3[i] = r[i];
            for (std::size_t j = 0; j < 3; ++j)
                m3[i][j] = g[i][j];
        }
        if (!solve_in_place(m3, v3))
            return std::nullopt;
        const double a = static_cast<double>(v3[0]), b = static_cast<double>(v3[1]);
        // The derivative column G = t (-a sin + b cos) = b (t cos) - a (t sin).
        const std::array<double, 5> gcol = {0.0, 0.0, 0.0, b, -a};
        std::array<std::array<long double, 4>, 4> m4{};
        std::array<long double, 4> v4{};
        auto dot = [&](std::size_t i, const std::array<double, 5>& k) {
            long double sum = 0.0L;
            for (std::size_t j = 0; j < 5; ++j)
                sum += static_cast<long double>(g[i][j]) * k[j];
            return sum;
        };
        long double gg = 0.0L, gx = 0.0L;
        for (std::size_t i = 0; i < 5; ++i) {
            gg += gcol[i] * dot(i, gcol);
            gx += gcol[i] * r[i];
        }
        for (std::size_t i = 0; i < 3; ++i) {
            v4[i] = r[i];
            for (std::size_t j = 0; j < 3; ++j)
                m4[i][j] = g[i][j];
            m4[i][3] = m4[3][i] = dot(i, gcol);
        }
        m4[3][3] = gg;
        v4[3] = gx;
        if (!solve_in_place(m4, v4))
            return std::nullopt;
        const double step = static_cast<double>(v4[3]) * scale;
        // Settled: this pass's amplitudes, taken with the stepped frequency, are off only in
        // the second order of the step: for 1e-9 of w over a 9600-sample window, a phase error
        // of 6e-7 rad leaves an error near 4e-13 of the amplitude (-250 dB).
        if (std::abs(step) <= 1e-9 * w)
            return Sine{w + step, static_cast<double>(v4[0]), static_cast<double>(v4[1]),
                        static_cast<double>(v4[2])};
        w += step;
        if (!(w > 0.0 && w < std::numbers::pi))
            return std::nullopt;
    }
    // Twelve passes without settling: take the last frequency as it stands.
    return fit_at(x, w, scratch);
}

}  // namespace

std::optional<Sine> find_fundamental(std::span<const double> x, Spectrum& spectrum, double start_w,
                                     FitScratch& scratch) {
    if (x.size() < 16)
        return std::nullopt;
    const double total = mean_square(x);
    if (total == 0.0)
        return std::nullopt;
    double w = start_w;
    if (!(w > 0.0)) {
        const auto period = crossing_period(x);
        w = period ? 2.0 * std::numbers::pi / *period : spectrum.peak_w(x);
    }
    if (!(w > 0.0 && w < std::numbers::pi))
        return std::nullopt;
    const auto sine = gauss_newton(x, w, scratch);
    if (!sine)
        return std::nullopt;
    std::vector<double>& residual = scratch.residual;
    residual.resize(x.size());
    subtract(x, *sine, residual, scratch);
    const double residual_power = mean_square(residual);
    // 30 dB above the residual's power per bin (fs/N wide): noise alone never gets there.
    const double per_bin = residual_power * 2.0 / static_cast<double>(x.size());
    if (!(sine->mean_square() > 1000.0 * per_bin))
        return std::nullopt;
    return sine;
}

Spectrum::Spectrum(std::size_t length) : size_(4) {
    // The largest power of two the window holds: the newest 8192 of 9600 samples at 48 kHz,
    // plenty for a stationary signal, at half the cost of padding to 16384.
    while (size_ * 2 <= length)
        size_ *= 2;
    twiddle_re_.resize(size_ / 2);
    twiddle_im_.resize(size_ / 2);
    for (std::size_t k = 0; k < size_ / 2; ++k) {
        const double angle =
            -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size_);
        twiddle_re_[k] = std::cos(angle);
        twiddle_im_[k] = std::sin(angle);
    }
    packed_re_.resize(size_ / 2);
    packed_im_.resize(size_ / 2);
    power_.resize(size_ / 2 + 1);
    window_.reserve(length);
}

// Radix-2, in place, on separate real and imaginary arrays (interleaved std::complex made the
// compiler pair the halves through memory, three times slower).
void Spectrum::transform(std::vector<double>& re, std::vector<double>& im) const {
    const std::size_t n = re.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t stride = size_ / len;  // e^{-j 2 pi k / len} = twiddle k * stride
        const std::size_t half = len / 2;
        for (std::size_t start = 0; start < n; start += len) {
            double* ar = re.data() + start;
            double* ai = im.data() + start;
            double* br = ar + half;
            double* bi = ai + half;
            for (std::size_t k = 0; k < half; ++k) {
                const double wr = twiddle_re_[k * stride], wi = twiddle_im_[k * stride];
                const double vr = br[k] * wr - bi[k] * wi;
                const double vi = br[k] * wi + bi[k] * wr;
                br[k] = ar[k] - vr;
                bi[k] = ai[k] - vi;
                ar[k] += vr;
                ai[k] += vi;
            }
        }
    }
}

namespace {

// 4-term Blackman-Harris; returns the sum of its squares.
double blackman_harris(std::size_t length, std::vector<double>& window) {
    window.resize(length);
    double power = 0.0;
    const double span = static_cast<double>(length);
    for (std::size_t n = 0; n < length; ++n) {
        const double p = 2.0 * std::numbers::pi * (static_cast<double>(n) + 0.5) / span;
        window[n] = 0.35875 - 0.48829 * std::cos(p) + 0.14128 * std::cos(2.0 * p) -
                    0.01168 * std::cos(3.0 * p);
        power += window[n] * window[n];
    }
    return power;
}

}  // namespace

void Spectrum::use_window(std::size_t length) {
    if (window_.size() != length)
        window_power_ = blackman_harris(length, window_);
}

const std::vector<double>& Spectrum::power(std::span<const double> x) {
    if (x.size() > size_)
        x = x.subspan(x.size() - size_);
    use_window(x.size());
    // Real input of length size_ as complex input of half the length: even samples real, odd
    // samples imaginary; split afterwards.
    const std::size_t half = size_ / 2;
    auto sample = [&](std::size_t n) { return n < x.size() ? window_[n] * x[n] : 0.0; };
    for (std::size_t n = 0; n < half; ++n) {
        packed_re_[n] = sample(2 * n);
        packed_im_[n] = sample(2 * n + 1);
    }
    transform(packed_re_, packed_im_);
    for (std::size_t k = 0; k <= half; ++k) {
        const std::size_t i = k == half ? 0 : k, j = k == 0 ? 0 : half - k;
        const cplx zk(packed_re_[i], packed_im_[i]);
        const cplx zc(packed_re_[j], -packed_im_[j]);
        const cplx even = 0.5 * (zk + zc);
        const cplx odd = cplx(0.0, -0.5) * (zk - zc);
        const cplx turn = k < half ? cplx(twiddle_re_[k], twiddle_im_[k]) : cplx(-1.0, 0.0);
        power_[k] = std::norm(even + turn * odd);
    }
    return power_;
}

double Spectrum::band_mean_square(std::span<const double> x, double rate_hz, double low_hz,
                                  double high_hz) {
    const std::vector<double>& p = power(x);
    if (window_power_ == 0.0)
        return 0.0;
    const double bin_hz = rate_hz / static_cast<double>(size_);
    const auto first = static_cast<std::size_t>(std::max(1.0, std::ceil(low_hz / bin_hz)));
    const auto last = std::min(static_cast<std::size_t>(std::floor(high_hz / bin_hz)), size_ / 2);
    double sum = 0.0;
    for (std::size_t k = first; k <= last; ++k)
        sum += k == size_ / 2 ? 0.5 * p[k] : p[k];
    return 2.0 * sum / (static_cast<double>(size_) * window_power_);
}

double Spectrum::peak_w(std::span<const double> x) {
    const std::vector<double>& p = power(x);
    // Skip the window's main lobe around DC (4 of its bins, in padded bins).
    const std::size_t first = 2 + 4 * size_ / std::max<std::size_t>(x.size(), 1);
    const std::size_t last = size_ / 2 - 2;
    if (first >= last)
        return 0.0;
    std::size_t best = first;
    for (std::size_t k = first; k <= last; ++k)
        if (p[k] > p[best])
            best = k;
    if (p[best] <= 0.0)
        return 0.0;
    const double l = std::log(std::max(p[best - 1], 1e-300)), m = std::log(p[best]),
                 r = std::log(std::max(p[best + 1], 1e-300));
    const double curvature = l - 2.0 * m + r;
    const double offset = curvature < 0.0 ? 0.5 * (l - r) / curvature : 0.0;
    return 2.0 * std::numbers::pi * (static_cast<double>(best) + std::clamp(offset, -0.5, 0.5)) /
           static_cast<double>(size_);
}

double Spectrum::amplitude_at(std::span<const double> x, double w) {
    if (x.empty() || !(w > 0.0 && w < std::numbers::pi))
        return 0.0;
    // The whole window here: the longer it is, the narrower the selective band.
    if (selective_window_.size() != x.size())
        blackman_harris(x.size(), selective_window_);
    std::vector<double>& c = scratch_.cos_wt;
    std::vector<double>& s = scratch_.sin_wt;
    phasors(w, x.size(), c, s);
    double cc = 0, cs = 0, ss = 0, c1 = 0, s1 = 0, one = 0, xc = 0, xs = 0, x1 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double k = selective_window_[n];
        cc += k * c[n] * c[n];
        cs += k * c[n] * s[n];
        ss += k * s[n] * s[n];
        c1 += k * c[n];
        s1 += k * s[n];
        one += k;
        xc += k * x[n] * c[n];
        xs += k * x[n] * s[n];
        x1 += k * x[n];
    }
    std::array<std::array<long double, 3>, 3> m = {{{cc, cs, c1}, {cs, ss, s1}, {c1, s1, one}}};
    std::array<long double, 3> v = {xc, xs, x1};
    if (!solve_in_place(m, v))
        return 0.0;
    return std::hypot(static_cast<double>(v[0]), static_cast<double>(v[1]));
}

}  // namespace vantel::measure
