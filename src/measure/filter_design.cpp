// SPDX-License-Identifier: MIT
// Filter designs: pure functions of the curve and the sample rate. The running state lives in
// WeightingFilter (filter.cpp).
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "measure/linear_solve.h"
#include "measure/measure.h"

namespace vantel::measure {

namespace {

using cplx = std::complex<double>;
using cplxl = std::complex<long double>;
constexpr double kPi = std::numbers::pi;
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

// Quadratic (or linear) factors 1 + c1 z^-1 + c2 z^-2 of a real polynomial given by its roots:
// conjugate pairs together, real roots two by two, in the order given.
std::vector<std::pair<double, double>> real_factors(std::vector<cplx> roots) {
    std::vector<std::pair<double, double>> factors;
    std::vector<double> reals;
    while (!roots.empty()) {
        const cplx r = roots.front();
        roots.erase(roots.begin());
        if (std::abs(r.imag()) <= 1e-12 * std::max(1.0, std::abs(r))) {
            reals.push_back(r.real());
            continue;
        }
        // Its conjugate: the nearest root to conj(r).
        auto mate = std::min_element(roots.begin(), roots.end(), [&](cplx a, cplx b) {
            return std::abs(a - std::conj(r)) < std::abs(b - std::conj(r));
        });
        if (mate == roots.end())
            throw std::logic_error("a complex root without its conjugate");
        roots.erase(mate);
        factors.emplace_back(-2.0 * r.real(), std::norm(r));
    }
    for (std::size_t i = 0; i < reals.size(); i += 2) {
        if (i + 1 < reals.size())
            factors.emplace_back(-(reals[i] + reals[i + 1]), reals[i] * reals[i + 1]);
        else
            factors.emplace_back(-reals[i], 0.0);
    }
    return factors;
}

// Poles nearest z = 1 (the lowest frequencies) pair with the zeros at z = 1, so each section
// stays well scaled; the overall gain goes into the first section.
FilterDesign to_sections(DigitalZpk zpk, double rate_hz) {
    auto by_distance_to_dc = [](cplx a, cplx b) { return std::abs(1.0 - a) < std::abs(1.0 - b); };
    std::stable_sort(zpk.poles.begin(), zpk.poles.end(), by_distance_to_dc);
    std::stable_sort(zpk.zeros.begin(), zpk.zeros.end(), by_distance_to_dc);
    const auto pole_factors = real_factors(zpk.poles);
    const auto zero_factors = real_factors(zpk.zeros);
    FilterDesign design;
    design.rate_hz = rate_hz;
    const std::size_t count = std::max({pole_factors.size(), zero_factors.size(), std::size_t{1}});
    for (std::size_t i = 0; i < count; ++i) {
        Biquad s;
        if (i < zero_factors.size()) {
            s.b1 = zero_factors[i].first;
            s.b2 = zero_factors[i].second;
        }
        if (i < pole_factors.size()) {
            s.a1 = pole_factors[i].first;
            s.a2 = pole_factors[i].second;
        }
        design.sections.push_back(s);
    }
    Biquad& first = design.sections.front();
    first.b0 *= zpk.gain;
    first.b1 *= zpk.gain;
    first.b2 *= zpk.gain;
    return design;
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

// The design that keeps a curve up to 20 kHz at any rate. The matched z-transform puts each
// digital pole at exp(sT), at the analog pole's own frequency; zeros at 0 Hz stay at z = 1. What
// is left is a smooth, even function of frequency: |N|^2 = |H_analog|^2 |D|^2 / |Z_dc|^2, a
// polynomial in x = cos(w) for a numerator N of order `fitted_zeros`. It is fitted by least
// squares in relative error over 10 Hz to `top_hz` (Chebyshev basis on the grid's span of x,
// for conditioning) and factored back into minimum-phase zeros: each root x_j of the polynomial
// gives the zero rho_j with rho_j + 1/rho_j = 2 x_j and |rho_j| <= 1.
DigitalZpk matched_fit(const AnalogZpk& analog, double rate_hz, int fitted_zeros, double top_hz,
                       double (*beyond_20khz_db)(double frequency_hz)) {
    auto magnitude = [&](double f) {
        const double extra_db = f > 20000.0 ? beyond_20khz_db(f) : 0.0;
        return std::abs(analog.response(f)) * std::pow(10.0, extra_db / 20.0);
    };
    DigitalZpk digital;
    const double period_s = 1.0 / rate_hz;
    for (const cplx& p : analog.poles)
        digital.poles.push_back(std::exp(p * period_s));
    for (const cplx& z : analog.zeros) {
        if (z != 0.0)
            throw std::logic_error("matched_fit takes zeros at 0 Hz only");
        digital.zeros.emplace_back(1.0, 0.0);
    }

    constexpr int kGridPoints = 600;
    constexpr double kLowestHz = 10.0;
    const double top = std::min(top_hz, 0.47 * rate_hz);
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
// at the corner. At the corners used here (2, 20, 400 Hz) the warping below 20 kHz is far under
// 0.001 dB, and the response tends to 1 at Nyquist just as the analog one does at infinity.
DigitalZpk butterworth_highpass(int order, double corner_hz, double rate_hz) {
    const double omega = std::tan(kPi * corner_hz / rate_hz);
    std::vector<cplx> zeros(static_cast<std::size_t>(order), 0.0), poles;
    for (int k = 0; k < order; ++k) {
        const cplx prototype = std::polar(1.0, kPi * (2.0 * k + order + 1.0) / (2.0 * order));
        poles.push_back(omega / prototype);
    }
    DigitalZpk d = bilinear(zeros, poles);
    scale_to_unity_at(d, rate_hz / 2.0, rate_hz);
    return d;
}

// The Audio band's upper limit: an inverse Chebyshev (type II) low-pass, flat within 0.05 dB up
// to 20 kHz and 60 dB down from `stop_hz` on (24 kHz, or just under Nyquist at 44.1 and 48 kHz),
// the steep skirt AES17 asks of its 20 kHz measurement filter. Its monotonic passband keeps
// harmonics near 20 kHz at their level, and its order follows from the rate.
DigitalZpk audio_lowpass(double rate_hz) {
    constexpr double pass_hz = 20000.0, pass_loss_db = 0.05, stop_loss_db = 60.0;
    const double stop_hz = std::min(24000.0, 0.49 * rate_hz);
    const double omega_pass = std::tan(kPi * pass_hz / rate_hz);
    const double omega_stop = std::tan(kPi * stop_hz / rate_hz);
    const double epsilon = 1.0 / std::sqrt(std::pow(10.0, stop_loss_db / 10.0) - 1.0);
    const double needed = 1.0 / (epsilon * std::sqrt(std::pow(10.0, pass_loss_db / 10.0) - 1.0));
    const int order =
        static_cast<int>(std::ceil(std::acosh(needed) / std::acosh(omega_stop / omega_pass)));
    const double mu = std::asinh(1.0 / epsilon) / order;
    std::vector<cplx> zeros, poles;
    for (int k = 1; k <= order; ++k) {
        const double theta = kPi * (2.0 * k - 1.0) / (2.0 * order);
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

void check_rate(double rate_hz) {
    if (!(rate_hz >= kMinimumRateHz) || !std::isfinite(rate_hz))
        throw std::invalid_argument("sample rate " + std::to_string(rate_hz) +
                                    " Hz is below the 8000 Hz the measuring chain needs");
}

}  // namespace

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
// reaches 12 dB/octave only asymptotically). The design falls faster there, by an extra
// 3 dB x octaves^2 that leaves the curve's value and slope at 20 kHz untouched, so that every
// octave above 20 kHz loses at least 12 dB.
double a_steeper_beyond_20khz_db(double frequency_hz) {
    const double octaves = std::log2(frequency_hz / 20000.0);
    return -3.0 * octaves * octaves;
}

double unchanged_db(double) {
    return 0.0;
}

}  // namespace

FilterDesign design_weighting(Curve curve, double rate_hz) {
    check_rate(rate_hz);
    // The fit covers up to 0.47 fs (so, at every rate, 20 kHz and what the rate has above it).
    // Six fitted zeros hold A within 0.035 dB and CCIR-468 within 0.025 dB of their formulas
    // from 20 Hz to 20 kHz at every rate from 44.1 kHz up (worst at 44.1 kHz).
    constexpr double kFitTopHz = 1e9;
    switch (curve) {
        case Curve::Flat:
            return FilterDesign{rate_hz, {}};
        case Curve::A: {
            DigitalZpk d = matched_fit(a_weighting_prototype(), rate_hz, 6, kFitTopHz,
                                       a_steeper_beyond_20khz_db);
            scale_to_unity_at(d, 1000.0, rate_hz);
            return to_sections(d, rate_hz);
        }
        case Curve::Highpass400:
            return to_sections(butterworth_highpass(2, 400.0, rate_hz), rate_hz);
        case Curve::Ccir468:
        case Curve::Ccir468At2k: {
            const double unity_hz = curve == Curve::Ccir468 ? 1000.0 : 2000.0;
            DigitalZpk d =
                matched_fit(ccir468_prototype(unity_hz), rate_hz, 6, kFitTopHz, unchanged_db);
            scale_to_unity_at(d, unity_hz, rate_hz);
            return to_sections(d, rate_hz);
        }
    }
    throw std::invalid_argument("unknown weighting curve");
}

FilterDesign design_band(Band band, double rate_hz) {
    check_rate(rate_hz);
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
    check_rate(rate_hz);
    // -3 dB at 20 Hz (4th-order Butterworth), then the 20 kHz low-pass.
    DigitalZpk high = butterworth_highpass(4, 20.0, rate_hz);
    const DigitalZpk low = audio_lowpass(rate_hz);
    high.zeros.insert(high.zeros.end(), low.zeros.begin(), low.zeros.end());
    high.poles.insert(high.poles.end(), low.poles.begin(), low.poles.end());
    high.gain *= low.gain;
    return to_sections(high, rate_hz);
}

}  // namespace vantel::measure
