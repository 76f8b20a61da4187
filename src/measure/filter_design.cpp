// SPDX-License-Identifier: MIT
// Filter designs: pure functions of the curve and the sample rate. The running state lives in
// WeightingFilter (filter.cpp).
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "measure/linear_solve.h"
#include "measure/measure.h"

namespace vantel::measure {

namespace {

using cplx = std::complex<double>;
using cplxl = std::complex<long double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// An analog prototype by its zeros and poles in rad/s; the gain comes from a normalisation.
struct AnalogZpk {
    std::vector<cplx> zeros, poles;
    double gain = 1.0;

    cplx response(double frequency_hz) const {
        const cplx s(0.0, kTwoPi * frequency_hz);
        cplx h = gain;
        for (const cplx& z : zeros)
            h *= s - z;
        for (const cplx& p : poles)
            h /= s - p;
        return h;
    }
    void normalise_at(double frequency_hz) { gain /= std::abs(response(frequency_hz)); }
};

// IEC 61672-1 Annex E: A-weighting's poles (Hz): f1 and f4 double, f2 and f3 single; four zeros
// at 0 Hz.
AnalogZpk a_weighting_prototype() {
    constexpr double f1_hz = 20.598997057618316, f2_hz = 107.65264864304629,
                     f3_hz = 737.8622307362901, f4_hz = 12194.217147998012;
    AnalogZpk a;
    a.zeros.assign(4, 0.0);
    for (double f : {f1_hz, f1_hz, f2_hz, f3_hz, f4_hz, f4_hz})
        a.poles.emplace_back(-kTwoPi * f, 0.0);
    a.normalise_at(1000.0);
    return a;
}

// ITU-R BS.468-4's passive network (600 ohm source and load) as its s-plane equivalent: one zero
// at 0 Hz and six poles (rad/s).
AnalogZpk ccir468_prototype(double normalised_at_hz) {
    AnalogZpk c;
    c.zeros.assign(1, 0.0);
    c.poles = {{-25903.70104781628, 0.0},
               {-23615.53521363528, 36379.90893732929},
               {-23615.53521363528, -36379.90893732929},
               {-18743.74669072136, 62460.15645250649},
               {-18743.74669072136, -62460.15645250649},
               {-62675.1700584679, 0.0}};
    c.normalise_at(normalised_at_hz);
    return c;
}

// The analyser's unnamed weighting: a 2nd-order Butterworth high-pass at 400 Hz, by its two
// zeros at 0 Hz and two poles.
AnalogZpk highpass_400_prototype() {
    AnalogZpk h;
    h.zeros.assign(2, 0.0);
    for (int k = 0; k < 2; ++k)
        h.poles.push_back(kTwoPi * 400.0 *
                          std::polar(1.0, std::numbers::pi * (2.0 * k + 3.0) / 4.0));
    return h;
}

// A digital filter by its zeros and poles in z and a gain; turned into sections at the end.
struct DigitalZpk {
    std::vector<cplx> zeros, poles;
    double gain = 1.0;

    cplx response(double w) const {
        const cplx z_inv = std::polar(1.0, -w);
        cplx h = gain;
        for (const cplx& z : zeros)
            h *= 1.0 - z * z_inv;
        for (const cplx& p : poles)
            h /= 1.0 - p * z_inv;
        return h;
    }
};

// Second-order sections from zeros and poles, paired and ordered as a robust zpk-to-sections
// conversion does. Each pole (pair), taken from the one nearest the unit circle outwards, takes
// the zeros nearest to it: a high-pass's poles next to z = 1 sit with its own zeros at z = 1,
// so every section is well scaled on its own. A section that paired them with a low-pass's
// zeros near z = -1 would carry some 110 dB of gain at DC, and the next one would take it away
// again: the cancellation would leave the rounding of the first standing 110 dB too high.
// The sections then run in the opposite order, the sharpest resonances last; the overall gain
// goes into the first.
class SectionPairing {
public:
    explicit SectionPairing(DigitalZpk zpk) {
        // As many zeros as poles, an even count of each: roots at z = 0 are plain delays and
        // cost nothing.
        while (zpk.zeros.size() < zpk.poles.size())
            zpk.zeros.emplace_back(0.0, 0.0);
        while (zpk.poles.size() < zpk.zeros.size())
            zpk.poles.emplace_back(0.0, 0.0);
        if (zpk.poles.size() % 2 == 1) {
            zpk.zeros.emplace_back(0.0, 0.0);
            zpk.poles.emplace_back(0.0, 0.0);
        }
        zeros_ = one_of_each_pair(zpk.zeros);
        poles_ = one_of_each_pair(zpk.poles);
        gain_ = zpk.gain;
        sections_ = zpk.poles.size() / 2;
    }

    std::vector<Biquad> sections() {
        std::vector<Biquad> out;
        for (std::size_t i = 0; i < sections_; ++i)
            out.push_back(next_section());
        std::reverse(out.begin(), out.end());
        if (out.empty())
            out.emplace_back();
        out.front().b0 *= gain_;
        out.front().b1 *= gain_;
        out.front().b2 *= gain_;
        return out;
    }

private:
    static bool is_real(cplx r) { return r.imag() == 0.0; }

    // The roots with a non-negative imaginary part: each real root, and one of each conjugate
    // pair (its mate is found and dropped, so a pair counts once).
    static std::vector<cplx> one_of_each_pair(std::vector<cplx> roots) {
        std::vector<cplx> kept;
        while (!roots.empty()) {
            cplx r = roots.back();
            roots.pop_back();
            if (std::abs(r.imag()) <= 1e-12 * std::max(1.0, std::abs(r))) {
                kept.emplace_back(r.real(), 0.0);
                continue;
            }
            auto mate = std::min_element(roots.begin(), roots.end(), [&](cplx a, cplx b) {
                return std::abs(a - std::conj(r)) < std::abs(b - std::conj(r));
            });
            if (mate == roots.end())
                throw std::logic_error("a complex root without its conjugate");
            roots.erase(mate);
            kept.emplace_back(r.real(), std::abs(r.imag()));
        }
        return kept;
    }

    enum class Kind { Any, Real, Complex };
    // Removes and returns the root of `roots` of that kind nearest to `to`; none if there is none.
    static std::optional<cplx> take_nearest(std::vector<cplx>& roots, cplx to, Kind kind) {
        auto best = roots.end();
        for (auto it = roots.begin(); it != roots.end(); ++it) {
            if ((kind == Kind::Real && !is_real(*it)) || (kind == Kind::Complex && is_real(*it)))
                continue;
            if (best == roots.end() || std::abs(*it - to) < std::abs(*best - to))
                best = it;
        }
        if (best == roots.end())
            return std::nullopt;
        const cplx r = *best;
        roots.erase(best);
        return r;
    }
    static cplx take_nearest_unit_circle(std::vector<cplx>& roots, Kind kind) {
        auto best = roots.end();
        for (auto it = roots.begin(); it != roots.end(); ++it) {
            if (kind == Kind::Real && !is_real(*it))
                continue;
            if (best == roots.end() ||
                std::abs(1.0 - std::abs(*it)) < std::abs(1.0 - std::abs(*best)))
                best = it;
        }
        const cplx r = *best;
        roots.erase(best);
        return r;
    }
    std::size_t count_real(const std::vector<cplx>& roots) const {
        return static_cast<std::size_t>(std::count_if(roots.begin(), roots.end(), is_real));
    }

    // A section's polynomial 1 - (r1 + r2) z^-1 + r1 r2 z^-2 from its roots: a complex root
    // with its conjugate, or up to two real ones.
    static std::pair<double, double> factor(std::optional<cplx> r1, std::optional<cplx> r2) {
        if (r1 && !is_real(*r1))
            return {-2.0 * r1->real(), std::norm(*r1)};
        const double a = r1 ? r1->real() : 0.0, b = r2 ? r2->real() : 0.0;
        return {-(a + b), a * b};
    }

    Biquad next_section() {
        const cplx p1 = take_nearest_unit_circle(poles_, Kind::Any);
        std::optional<cplx> p2, z1, z2;
        if (is_real(p1) && count_real(poles_) == 0) {
            // The last real pole, alone: with the nearest real zero.
            z1 = take_nearest(zeros_, p1, Kind::Real);
        } else if (!is_real(p1) && count_real(poles_) == 1 && count_real(zeros_) == 1 &&
                   poles_.size() + 1 == zeros_.size()) {
            // One real pole and one real zero are left for each other: this pair must take a
            // complex pair of zeros.
            z1 = take_nearest(zeros_, p1, Kind::Complex);
        } else {
            if (is_real(p1))
                p2 = take_nearest_unit_circle(poles_, Kind::Real);
            z1 = take_nearest(zeros_, p1, Kind::Any);
            if (z1 && is_real(*z1))
                z2 = take_nearest(zeros_, p1, Kind::Real);
        }
        const auto [b1, b2] = factor(z1, z2);
        const auto [a1, a2] = factor(p1, p2);
        return Biquad{1.0, b1, b2, a1, a2};
    }

    std::vector<cplx> zeros_, poles_;
    double gain_ = 1.0;
    std::size_t sections_ = 0;
};

FilterDesign to_sections(const DigitalZpk& zpk, double rate_hz) {
    return FilterDesign{rate_hz, SectionPairing(zpk).sections()};
}

// Roots of a real polynomial (coefficients from the constant term up), by Durand-Kerner and a
// Newton polish; the degrees here are small (at most 8).
std::vector<cplx> polynomial_roots(std::vector<long double> coefficients) {
    while (!coefficients.empty() && coefficients.back() == 0.0L)
        coefficients.pop_back();
    const std::size_t degree = coefficients.size() - 1;
    std::vector<cplxl> roots(degree);
    if (degree == 0)
        return {};
    const long double lead = coefficients.back();
    for (long double& c : coefficients)
        c /= lead;
    auto eval = [&](cplxl x) {
        cplxl v = 0.0L;
        for (std::size_t k = coefficients.size(); k-- > 0;)
            v = v * x + coefficients[k];
        return v;
    };
    long double radius = 0.0L;
    for (std::size_t k = 0; k < degree; ++k)
        radius = std::max(radius, std::abs(coefficients[k]));
    radius = 1.0L + radius;
    for (std::size_t i = 0; i < degree; ++i)
        roots[i] = std::polar(0.5L * radius, 0.4L + 2.0L * std::numbers::pi_v<long double> *
                                                        static_cast<long double>(i) /
                                                        static_cast<long double>(degree));
    for (int iteration = 0; iteration < 500; ++iteration) {
        long double change = 0.0L;
        for (std::size_t i = 0; i < degree; ++i) {
            cplxl denominator = 1.0L;
            for (std::size_t j = 0; j < degree; ++j)
                if (j != i)
                    denominator *= roots[i] - roots[j];
            const cplxl step = eval(roots[i]) / denominator;
            roots[i] -= step;
            change = std::max(change, std::abs(step) / (1.0L + std::abs(roots[i])));
        }
        if (change < 1e-18L)
            break;
    }
    std::vector<cplx> out;
    for (cplxl r : roots) {
        if (std::abs(r.imag()) < 1e-14L * (1.0L + std::abs(r)))
            r = r.real();
        out.emplace_back(static_cast<double>(r.real()), static_cast<double>(r.imag()));
    }
    return out;
}

// Poles that make a curve fall faster above 20 kHz than its formula: a low-pass whose poles go
// into the design with the curve's own. Below 20 kHz the curve is the formula alone (the fit
// takes the low-pass's slight droop there back out); above, the low-pass's fall is added to
// the formula's, from 0 dB at 20 kHz.
struct SteeperAbove20kHz {
    std::vector<cplx> poles;  // rad/s
    double gain_db(double frequency_hz) const {
        auto all_pole = [&](double f) {
            const cplx s(0.0, kTwoPi * f);
            cplx h = 1.0;
            for (const cplx& p : poles)
                h *= -p / (s - p);
            return std::abs(h);
        };
        return frequency_hz > 20000.0
                   ? 20.0 * std::log10(all_pole(frequency_hz) / all_pole(20000.0))
                   : 0.0;
    }
};

// The design that keeps a curve up to 20 kHz at any rate. The matched z-transform puts each
// digital pole at exp(sT), at the analog pole's own frequency; zeros at 0 Hz stay at z = 1. What
// is left is a smooth, even function of frequency: |N|^2 = |H_analog|^2 |D|^2 / |Z_dc|^2, a
// polynomial in x = cos(w) for a numerator N of order `fitted_zeros`. It is fitted by least
// squares in relative error over 10 Hz to 0.47 fs (Chebyshev basis on the grid's span of x,
// for conditioning) and factored back into minimum-phase zeros: each root x_j of the polynomial
// gives the zero rho_j with rho_j + 1/rho_j = 2 x_j and |rho_j| <= 1. The fit only has to
// bridge what the matched poles miss; a fall that it had to shape by zeros alone (several
// octaves of it, at 352.8 kHz and up) would leave it a numerator with a zero in the band, so
// a steeper fall above 20 kHz comes with poles of its own (`steeper`).
DigitalZpk matched_fit(const AnalogZpk& analog, const SteeperAbove20kHz& steeper, double rate_hz,
                       int fitted_zeros) {
    auto magnitude = [&](double f) {
        return std::abs(analog.response(f)) * std::pow(10.0, steeper.gain_db(f) / 20.0);
    };
    DigitalZpk digital;
    const double period_s = 1.0 / rate_hz;
    for (const cplx& p : analog.poles)
        digital.poles.push_back(std::exp(p * period_s));
    for (const cplx& p : steeper.poles)
        digital.poles.push_back(std::exp(p * period_s));
    for (const cplx& z : analog.zeros) {
        if (z != 0.0)
            throw std::logic_error("matched_fit takes zeros at 0 Hz only");
        digital.zeros.emplace_back(1.0, 0.0);
    }

    constexpr int kGridPoints = 600;
    constexpr double kLowestHz = 10.0;
    const double top = 0.47 * rate_hz;
    std::vector<double> grid_w(kGridPoints), target(kGridPoints);
    for (int i = 0; i < kGridPoints; ++i) {
        const double f = kLowestHz * std::pow(top / kLowestHz, i / (kGridPoints - 1.0));
        grid_w[i] = kTwoPi * f * period_s;
        const double fixed = std::abs(digital.response(grid_w[i]));
        target[i] = magnitude(f) * magnitude(f) / (fixed * fixed);
    }
    const double x_high = 1.0, x_low = std::cos(grid_w.back());
    const double x_mid = 0.5 * (x_high + x_low), x_half = 0.5 * (x_high - x_low);

    const std::size_t terms = static_cast<std::size_t>(fitted_zeros) + 1;
    std::vector<std::vector<long double>> normal(terms, std::vector<long double>(terms, 0.0L));
    std::vector<long double> rhs(terms, 0.0L);
    std::vector<long double> row(terms);
    for (int i = 0; i < kGridPoints; ++i) {
        const long double t = (std::cos(grid_w[i]) - x_mid) / x_half;
        // Chebyshev polynomials T_k(t), each divided by the target: relative error.
        for (std::size_t k = 0; k < terms; ++k)
            row[k] = k == 0 ? 1.0L : (k == 1 ? t : 2.0L * t * row[k - 1] - row[k - 2]);
        // Above 20 kHz the curve only has to keep falling: a light hand there buys accuracy
        // in the band.
        const double f = grid_w[i] * rate_hz / kTwoPi;
        const long double weight = f > 20000.0 ? 0.02L : 1.0L;
        for (std::size_t r = 0; r < terms; ++r)
            row[r] *= weight / target[i];
        for (std::size_t r = 0; r < terms; ++r) {
            rhs[r] += row[r] * weight;
            for (std::size_t c = 0; c < terms; ++c)
                normal[r][c] += row[r] * row[c];
        }
    }
    if (!solve_in_place(normal, rhs))
        throw std::logic_error("singular least-squares system in a filter design");
    const std::vector<long double>& chebyshev = rhs;

    // Chebyshev series in t to monomials in t (T_k+1 = 2 t T_k - T_k-1), then roots in t to
    // roots in x.
    std::vector<long double> monomial(terms, 0.0L);
    std::vector<std::vector<long double>> basis(terms, std::vector<long double>(terms, 0.0L));
    for (std::size_t k = 0; k < terms; ++k) {
        if (k == 0)
            basis[0][0] = 1.0L;
        else if (k == 1)
            basis[1][1] = 1.0L;
        else
            for (std::size_t j = 0; j < terms; ++j)
                basis[k][j] = (j > 0 ? 2.0L * basis[k - 1][j - 1] : 0.0L) - basis[k - 2][j];
        for (std::size_t j = 0; j < terms; ++j)
            monomial[j] += chebyshev[k] * basis[k][j];
    }
    for (const cplx& t_root : polynomial_roots(monomial)) {
        const cplx x = x_mid + x_half * t_root;
        const cplx root = std::sqrt(x * x - 1.0);
        cplx rho = x - root;
        if (std::abs(rho) > 1.0)
            rho = x + root;
        if (std::abs(x.imag()) < 1e-15 && std::abs(x.real()) <= 1.0)
            throw std::logic_error("fitted weighting numerator has a zero inside its fit band");
        digital.zeros.push_back(rho);
    }

    // The gain that minimises the error in dB over the grid.
    digital.gain = 1.0;
    double log_sum = 0.0;
    for (int i = 0; i < kGridPoints; ++i) {
        const double f = grid_w[i] * rate_hz / kTwoPi;
        log_sum += std::log(magnitude(f) / std::abs(digital.response(grid_w[i])));
    }
    digital.gain = std::exp(log_sum / kGridPoints);
    return digital;
}

void scale_to_unity_at(DigitalZpk& zpk, double frequency_hz, double rate_hz) {
    zpk.gain /= std::abs(zpk.response(kTwoPi * frequency_hz / rate_hz));
}

// Bilinear transform s = (z - 1)/(z + 1) of analog roots given in prewarped units
// (Omega = tan(pi f / fs)); roots at infinity become zeros at z = -1.
DigitalZpk bilinear(const std::vector<cplx>& zeros, const std::vector<cplx>& poles) {
    DigitalZpk d;
    for (const cplx& p : poles)
        d.poles.push_back((1.0 + p) / (1.0 - p));
    for (const cplx& z : zeros)
        d.zeros.push_back((1.0 + z) / (1.0 - z));
    for (std::size_t i = zeros.size(); i < poles.size(); ++i)
        d.zeros.emplace_back(-1.0, 0.0);
    return d;
}

// A Butterworth high-pass of `order`, -3 dB at `corner_hz`, by the bilinear transform prewarped
// at the corner. At the corners used here (2 and 9.37 Hz) the warping above 20 Hz is far under
// 0.001 dB at every rate, and the response tends to 1 at Nyquist just as the analog one does at
// infinity.
DigitalZpk butterworth_highpass(int order, double corner_hz, double rate_hz) {
    const double omega = std::tan(std::numbers::pi * corner_hz / rate_hz);
    std::vector<cplx> zeros(static_cast<std::size_t>(order), 0.0), poles;
    for (int k = 0; k < order; ++k) {
        const cplx prototype =
            std::polar(1.0, std::numbers::pi * (2.0 * k + order + 1.0) / (2.0 * order));
        poles.push_back(omega / prototype);
    }
    DigitalZpk d = bilinear(zeros, poles);
    scale_to_unity_at(d, rate_hz / 2.0, rate_hz);
    return d;
}

// The Audio band's upper limit: an inverse Chebyshev (type II) low-pass, flat within 0.02 dB up
// to 20 kHz and 60 dB down from `stop_hz` on (24 kHz, or just under Nyquist at 44.1 and 48 kHz),
// the steep skirt AES17 asks of its 20 kHz measurement filter. Its monotonic passband keeps
// harmonics near 20 kHz at their level (a 6.6 kHz tone's third harmonic loses 0.02 dB at most,
// 0.2 % of a THD+N reading), and its order follows from the rate. A rate whose Nyquist leaves
// no room for a skirt above 20 kHz (under 42.9 kHz) has its band end at Nyquist instead: none.
std::optional<DigitalZpk> audio_lowpass(double rate_hz) {
    constexpr double pass_hz = 20000.0, pass_loss_db = 0.02, stop_loss_db = 60.0;
    const double stop_hz = std::min(24000.0, 0.49 * rate_hz);
    if (stop_hz < 1.05 * pass_hz)
        return std::nullopt;
    const double omega_pass = std::tan(std::numbers::pi * pass_hz / rate_hz);
    const double omega_stop = std::tan(std::numbers::pi * stop_hz / rate_hz);
    const double epsilon = 1.0 / std::sqrt(std::pow(10.0, stop_loss_db / 10.0) - 1.0);
    const double needed = 1.0 / (epsilon * std::sqrt(std::pow(10.0, pass_loss_db / 10.0) - 1.0));
    const int order =
        static_cast<int>(std::ceil(std::acosh(needed) / std::acosh(omega_stop / omega_pass)));
    const double mu = std::asinh(1.0 / epsilon) / order;
    std::vector<cplx> zeros, poles;
    for (int k = 1; k <= order; ++k) {
        const double theta = std::numbers::pi * (2.0 * k - 1.0) / (2.0 * order);
        const cplx chebyshev_pole(-std::sinh(mu) * std::sin(theta),
                                  std::cosh(mu) * std::cos(theta));
        poles.push_back(omega_stop / chebyshev_pole);
        if (std::abs(std::cos(theta)) > 1e-12)
            zeros.emplace_back(0.0, omega_stop / std::cos(theta));
    }
    DigitalZpk d = bilinear(zeros, poles);
    scale_to_unity_at(d, 0.0, rate_hz);
    return d;
}

std::string rate_text(double rate_hz) {
    char text[40];
    if (std::isfinite(rate_hz) && std::abs(rate_hz) < 1e15 && rate_hz == std::floor(rate_hz))
        std::snprintf(text, sizeof text, "%.0f", rate_hz);
    else
        std::snprintf(text, sizeof text, "%g", rate_hz);
    return text;
}

}  // namespace

void check_measurable_rate(double rate_hz) {
    if (!(rate_hz >= kMinimumRateHz))
        throw std::invalid_argument("sample rate " + rate_text(rate_hz) + " Hz is below the " +
                                    rate_text(kMinimumRateHz) + " Hz the measuring chain needs");
    if (!(rate_hz <= kMaximumRateHz))
        throw std::invalid_argument("sample rate " + rate_text(rate_hz) + " Hz is above the " +
                                    rate_text(kMaximumRateHz) +
                                    " Hz the measuring chain measures at");
}

void check_designs(double rate_hz) {
    check_measurable_rate(rate_hz);
    for (Band band : {Band::Wide, Band::Audio})
        design_band(band, rate_hz);
    for (Curve curve :
         {Curve::Flat, Curve::A, Curve::Highpass400, Curve::Ccir468, Curve::Ccir468At2k})
        design_weighting(curve, rate_hz);
}

std::complex<double> FilterDesign::response(double frequency_hz) const {
    const cplx z_inv = std::polar(1.0, -kTwoPi * frequency_hz / rate_hz);
    cplx h = 1.0;
    for (const Biquad& s : sections)
        h *= (s.b0 + z_inv * (s.b1 + z_inv * s.b2)) / (1.0 + z_inv * (s.a1 + z_inv * s.a2));
    return h;
}

double FilterDesign::gain_db(double frequency_hz) const {
    return 20.0 * std::log10(std::abs(response(frequency_hz)));
}

namespace {

// Beyond 20 kHz the A curve of the formula falls by only 10 dB in the first octave (its slope
// reaches 12 dB/octave only asymptotically). The design adds a 4th-order Butterworth low-pass
// at 40 kHz: 2.6 dB more in that first octave, and at least 12 dB in every octave after it.
SteeperAbove20kHz a_steeper_above_20khz() {
    constexpr int kOrder = 4;
    constexpr double kCornerHz = 40000.0;
    SteeperAbove20kHz steeper;
    for (int k = 0; k < kOrder; ++k)
        steeper.poles.push_back(
            kTwoPi * kCornerHz *
            std::polar(1.0, std::numbers::pi * (2.0 * k + kOrder + 1.0) / (2.0 * kOrder)));
    return steeper;
}

}  // namespace

FilterDesign design_weighting(Curve curve, double rate_hz) {
    check_measurable_rate(rate_hz);
    // The fit covers up to 0.47 fs (so, at every rate, 20 kHz and what the rate has above it).
    // Six fitted zeros hold A within 0.04 dB and CCIR-468 within 0.03 dB of their formulas
    // from 20 Hz to 20 kHz (or 0.45 fs) at every rate from 8 kHz to 768 kHz.
    switch (curve) {
        case Curve::Flat:
            return FilterDesign{rate_hz, {}};
        case Curve::A: {
            DigitalZpk d =
                matched_fit(a_weighting_prototype(), a_steeper_above_20khz(), rate_hz, 6);
            scale_to_unity_at(d, 1000.0, rate_hz);
            return to_sections(d, rate_hz);
        }
        case Curve::Highpass400: {
            // The bilinear transform would bend it by 0.14 dB at 50 Hz at 8 kHz: fitted as the
            // other curves are, it holds within 0.001 dB at every rate.
            return to_sections(matched_fit(highpass_400_prototype(), {}, rate_hz, 2), rate_hz);
        }
        case Curve::Ccir468:
        case Curve::Ccir468At2k: {
            const double unity_hz = curve == Curve::Ccir468 ? 1000.0 : 2000.0;
            DigitalZpk d = matched_fit(ccir468_prototype(unity_hz), {}, rate_hz, 6);
            scale_to_unity_at(d, unity_hz, rate_hz);
            return to_sections(d, rate_hz);
        }
    }
    throw std::invalid_argument("unknown weighting curve");
}

FilterDesign design_band(Band band, double rate_hz) {
    check_measurable_rate(rate_hz);
    // DC removal: 2 Hz keeps 20 Hz within 0.0004 dB and settles a step in about half a second.
    constexpr double kDcCornerHz = 2.0;
    if (band == Band::Wide)
        return to_sections(butterworth_highpass(2, kDcCornerHz, rate_hz), rate_hz);
    FilterDesign audio = design_band(Band::Wide, rate_hz);
    const FilterDesign limit = design_audio_limit(rate_hz);
    audio.sections.insert(audio.sections.end(), limit.sections.begin(), limit.sections.end());
    return audio;
}

FilterDesign design_audio_limit(double rate_hz) {
    check_measurable_rate(rate_hz);
    // A 4th-order Butterworth high-pass whose -3 dB lies at 9.37 Hz, so that 20 Hz loses only
    // 0.01 dB: a 20 Hz fundamental and its harmonics keep their ratio, and a 20 Hz tone reads
    // its level. Then the 20 kHz low-pass.
    constexpr double kHighPassHz = 9.37;
    DigitalZpk band = butterworth_highpass(4, kHighPassHz, rate_hz);
    if (const std::optional<DigitalZpk> low = audio_lowpass(rate_hz)) {
        band.zeros.insert(band.zeros.end(), low->zeros.begin(), low->zeros.end());
        band.poles.insert(band.poles.end(), low->poles.begin(), low->poles.end());
        band.gain *= low->gain;
    }
    return to_sections(band, rate_hz);
}

}  // namespace vantel::measure
