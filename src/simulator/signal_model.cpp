// SPDX-License-Identifier: MIT
#include "simulator/signal_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "simulator/units.h"

namespace vantel::sim {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// How each response reads a tone and noise against its RMS. Peak detectors are calibrated to
// read a sine's RMS, so a tone reads nearly the same under every response: a touch more where
// the peak catches the noise on the crest, a touch less where sampling misses the crest or the
// quasi-peak ballistics do not charge fully. Noise, whose crest factor is far above a sine's,
// reads well above its RMS on the peak responses.
struct ResponseLaw {
    std::int16_t response;
    double tone;
    double noise;
};

constexpr ResponseLaw kResponseLaws[] = {
    {code_of("CTD_RESPONSE_RMS"), 1.0, 1.0},
    {code_of("CTD_RESPONSE_PEAK"), 1.0005, 1.6},
    {code_of("CTD_RESPONSE_PEAKSAMPLE"), 0.9995, 1.5},
    {code_of("CTD_RESPONSE_QPEAK"), 0.998, 1.35},
};

const ResponseLaw& law_of(std::int16_t response) {
    for (const ResponseLaw& law : kResponseLaws) {
        if (law.response == response)
            return law;
    }
    return kResponseLaws[0];
}

// The filter in use: one the function's name implies, else the detector's; the detector's
// "default" is whatever the signal analyser names as its default.
std::int16_t effective_weighting(const AnalyserSettings& s) {
    const std::int16_t w = s.function->weighting.value_or(s.weighting);
    return w == code_of("CTD_WEIGHTING_DEFAULT") ? s.default_weighting : w;
}

// A frequency counter resolves far finer than a level detector.
constexpr double kFrequencySteadiness = 0.01;

}  // namespace

double Rng::uniform() {
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

double Rng::normal() {
    // Box-Muller; 1 - u keeps the logarithm's argument above zero.
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

std::int32_t AnalyserSettings::frame_rate_hz() const {
    auto it = frame_rates_hz.find(digital_source);
    return it == frame_rates_hz.end() ? 0 : it->second;
}

struct SignalModel::Path {
    double tone_v = 0.0;     // the sine, V RMS
    double noise_v = 0.0;    // unweighted noise floor, V RMS
    double thd = 0.0;        // distortion against the sine
    double crosstalk = 0.0;  // leakage from the other channel
};

SignalModel::SignalModel(Rng& rng) {
    for (double& phase : drift_phase_)
        phase = kTwoPi * rng.uniform();
    for (const NamedConstant& c : kConstants) {
        if (c.enumeration == Enumeration::Weighting)
            noise_gain_[c.code] = white_noise_gain(c.code);
    }
    noise_gain_[kUnnamedWeighting] = white_noise_gain(kUnnamedWeighting);
}

SignalModel::Path SignalModel::device(Channel ch, double t_s) const {
    const ChannelModel& m = settings.dut[index(ch)];
    double gain = m.gain;
    if (settings.drift_period_s > 0.0) {
        gain *= 1.0 + settings.drift * std::sin(kTwoPi * t_s / settings.drift_period_s +
                                                drift_phase_[index(ch)]);
    }
    return {settings.generator_level_v * gain, m.noise_v, m.thd, m.crosstalk};
}

SignalModel::Path SignalModel::loopback() const {
    const ChannelModel& m = settings.loopback;
    return {settings.generator_level_v * m.gain, m.noise_v, m.thd, m.crosstalk};
}

SignalModel::Path SignalModel::path(const AnalyserSettings& s, Channel ch, double t_s) const {
    if (s.input_domain == kDigitalDomain) {
        if (s.frame_rate_hz() == 0)
            return {};  // unlocked: digital silence
        switch (s.digital_source) {
            case code_of("DI_SOURCE_GENXLR"):
            case code_of("DI_SOURCE_GENBNC"):
                return loopback();
            default:
                return device(ch, t_s);
        }
    }
    switch (s.analogue_source) {
        case code_of("AI_SOURCE_GENOUTPUT"):
            return loopback();
        case code_of("AI_SOURCE_CHA"):
            return device(Channel::A, t_s);
        case code_of("AI_SOURCE_CHB"):
            return device(Channel::B, t_s);
        case code_of("AI_SOURCE_JITTERDEMOD_FS"):
        case code_of("AI_SOURCE_JITTERDEMOD_DATA"):
            // The simulated link carries no jitter: the demodulator gives the analyser's floor.
            return {0.0, settings.loopback.noise_v, 0.0, 0.0};
        default:
            return device(ch, t_s);
    }
}

Quantity SignalModel::quantity(const AnalyserSettings& s, Channel ch, double t_s) const {
    const double f = settings.generator_frequency_hz;
    const std::int16_t w = effective_weighting(s);
    const ResponseLaw& law = law_of(s.response);
    auto gain = noise_gain_.find(w);
    const double noise_gain = gain == noise_gain_.end() ? 1.0 : gain->second;

    // The tone and the noise floor as the detector sees them through filter and response.
    auto tone = [&](const Path& p) { return p.tone_v * weighting_gain(w, f) * law.tone; };
    auto noise = [&](const Path& p) { return p.noise_v * noise_gain * law.noise; };
    auto level = [&](const Path& p) { return std::hypot(tone(p), noise(p)); };

    const Path p = path(s, ch, t_s);
    switch (s.function->kind) {
        case FunctionKind::Level:
            return {level(p), 0.0};
        case FunctionKind::Noise:
            return {noise(p), 0.0};
        case FunctionKind::Thdn:
            // The harmonics are taken as unweighted; the filter acts on the noise floor only.
            return {std::hypot(p.thd * p.tone_v, noise(p)), p.tone_v};
        case FunctionKind::Balance:
            return {level(p), level(path(s, other(ch), t_s))};
        case FunctionKind::Crosstalk: {
            // Measured selectively at the generator's frequency, so the noise floor drops out.
            const Path driven = path(s, other(ch), t_s);
            return {driven.tone_v * p.crosstalk, driven.tone_v};
        }
        case FunctionKind::Frequency:
            return {p.tone_v > 0.0 ? f : 0.0, 0.0};
    }
    return {};
}

double SignalModel::ratio(const AnalyserSettings& s, Channel ch, const Quantity& q,
                          double t_s) const {
    double reference = q.reference;
    if (!measures_ratio(s.function->kind)) {
        switch (s.relativity) {
            case code_of("CTD_RELATIVITY_SELF"):
                reference = s.self_reference[index(ch)];
                break;
            case code_of("CTD_RELATIVITY_GEN"):
                reference = s.function->kind == FunctionKind::Frequency
                                ? settings.generator_frequency_hz
                                : settings.generator_level_v;
                break;
            case code_of("CTD_RELATIVITY_CHANNEL"):
                reference = quantity(s, other(ch), t_s).value;
                break;
            default:
                return 1.0;  // absolute: never paired with a relative unit
        }
    }
    return q.value / std::max(reference, kResolutionFloor);
}

double SignalModel::reading(const AnalyserSettings& s, Channel ch, double t_s, Rng& rng) const {
    Quantity q = quantity(s, ch, t_s);
    double wander = settings.reading_noise;
    switch (s.function->kind) {
        case FunctionKind::Noise:
        case FunctionKind::Thdn:
        case FunctionKind::Crosstalk:
            wander = settings.noise_wander;
            break;
        case FunctionKind::Frequency:
            wander *= kFrequencySteadiness;
            break;
        default:
            break;
    }
    // One draw per reading whatever the setting, so the sequence depends only on the reads.
    q.value = std::max(0.0, q.value * (1.0 + wander * rng.normal()));

    switch (family_of(s.unit)) {
        case UnitFamily::Relative:
            return express_ratio(ratio(s, ch, q, t_s), s.unit);
        case UnitFamily::Level: {
            const double full_scale_v = s.input_domain == kDigitalDomain
                                            ? settings.digital_full_scale_v
                                            : settings.analogue_full_scale_v;
            return express_level(q.value, s.unit, full_scale_v);
        }
        case UnitFamily::Frequency:
        case UnitFamily::Unsupported:
            break;
    }
    return q.value;
}

}  // namespace vantel::sim
