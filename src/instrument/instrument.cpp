// SPDX-License-Identifier: MIT
#include "instrument/instrument.h"

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "automation/automation.h"
#include "instrument/units.h"

namespace vantel::instrument {

namespace {

[[noreturn]] void refuse(std::string reason) {
    throw AutomationError({}, std::move(reason));
}

void require_member(Enumeration enumeration, std::int16_t code, std::string_view what) {
    if (!is_member(enumeration, code))
        refuse(std::to_string(code) + " is not " + std::string(what));
}

double steady_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::int16_t kAbsolute = code_of("CTD_RELATIVITY_ABS");

// Where a return to absolute takes the unit: Hz for the frequency function, else the level unit
// the function used last.
std::int16_t absolute_unit_of(const MeasurementFunction& function, std::int16_t last_level_unit) {
    return function.kind == FunctionKind::Frequency ? code_of("UNIT_FREQ_HZ") : last_level_unit;
}

// The detector's rules for a unit, for `function` measured with `relativity`.
void check_unit(const MeasurementFunction& function, std::int16_t relativity,
                std::int16_t last_level_unit, std::int16_t code) {
    require_member(Enumeration::Unit, code, "a unit code");
    const std::string name = describe_code(Enumeration::Unit, code);
    const UnitFamily family = family_of(code);
    if (family == UnitFamily::Unsupported)
        refuse("the detector does not read in " + name);
    if (relativity != kAbsolute) {
        if (family != UnitFamily::Relative)
            refuse(name + " is absolute, but the detector measures relative to " +
                   describe_code(Enumeration::Relativity, relativity));
    } else if (family == UnitFamily::Relative) {
        // A function that is a ratio by nature reads that ratio while absolute.
        if (!measures_ratio(function.kind))
            refuse(name + " is relative, but the detector measures absolute");
    } else if (family != family_of(absolute_unit_of(function, last_level_unit))) {
        refuse(name + " does not fit the function \"" + std::string(function.name) + '"');
    }
}

void check_weighting(const MeasurementFunction& function, std::int16_t code) {
    if (code != kUnnamedWeighting)
        require_member(Enumeration::Weighting, code, "a weighting filter code");
    // Any other filter would be measured all the same, but shown under a name that lies.
    if (const auto own = function.weighting; own && *own != code)
        refuse("the function \"" + std::string(function.name) + "\" measures " +
               describe_code(Enumeration::Weighting, *own) + " by its name");
}

// Every rule a function's detector settings are held to, as when each was set.
void check_function_settings(const MeasurementFunction& function, const FunctionSettings& f) {
    if (family_of(f.last_level_unit) != UnitFamily::Level)
        refuse(describe_code(Enumeration::Unit, f.last_level_unit) + " is no level unit");
    require_member(Enumeration::Relativity, f.relativity, "a relativity code");
    check_unit(function, f.relativity, f.last_level_unit, f.unit);
    check_weighting(function, f.weighting);
    require_member(Enumeration::Response, f.response, "a response code");
}

}  // namespace

Instrument::Instrument(std::function<double()> clock, double initialise_after_s,
                       std::unique_ptr<source::SampleSource> source,
                       std::shared_ptr<source::Generator> generator, std::uint64_t seed,
                       std::optional<double> calibration_v)
    : clock_(clock ? std::move(clock) : std::function<double()>(steady_seconds)),
      switched_on_s_(clock_()),
      initialise_after_s_(initialise_after_s),
      measurement_(std::move(source), std::move(generator), seed, clock_) {
    settings_ = default_settings(measurement_.source_kind());
    if (calibration_v) {
        for (Channel ch : {Channel::A, Channel::B})
            set_full_scale(ch, *calibration_v, true);
    }
}

double Instrument::now_s() const {
    return clock_() - switched_on_s_;
}

bool Instrument::initialised() const {
    return now_s() >= initialise_after_s_;
}

std::int16_t Instrument::absolute_unit() const {
    return absolute_unit_of(*settings_.function, settings_.last_level_unit);
}

void Instrument::take_self_reference() {
    for (Channel ch : {Channel::A, Channel::B})
        settings_.self_reference[index(ch)] = measurement_.quantity(settings_, ch).value;
}

void Instrument::set_function(std::string_view name) {
    const MeasurementFunction* function = find_function(name);
    if (!function)
        refuse("the detector has no function named " + quoted_text(name));
    settings_.functions[function_index(settings_.function)] = settings_.detector();
    settings_.function = function;
    settings_.set_detector(settings_.functions[function_index(function)]);
    // A reference taken for another function would compare unlike quantities.
    if (settings_.relativity == code_of("CTD_RELATIVITY_SELF"))
        take_self_reference();
}

void Instrument::set_unit(std::int16_t code) {
    check_unit(*settings_.function, settings_.relativity, settings_.last_level_unit, code);
    settings_.unit = code;
    if (family_of(code) == UnitFamily::Level)
        settings_.last_level_unit = code;
}

void Instrument::set_weighting(std::int16_t code) {
    check_weighting(*settings_.function, code);
    settings_.weighting = code;
}

void Instrument::set_response(std::int16_t code) {
    require_member(Enumeration::Response, code, "a response code");
    settings_.response = code;
}

void Instrument::set_relativity(std::int16_t code) {
    require_member(Enumeration::Relativity, code, "a relativity code");
    settings_.relativity = code;
    if (code == code_of("CTD_RELATIVITY_SELF"))
        take_self_reference();
    const bool relative_unit = family_of(settings_.unit) == UnitFamily::Relative;
    // A ratio function keeps its ratio: absolute, it is the ratio against its own reference.
    if (code == kAbsolute && relative_unit && !measures_ratio(settings_.function->kind))
        settings_.unit = absolute_unit();
    else if (code != kAbsolute && !relative_unit)
        settings_.unit = code_of("UNIT_RELATIVE_DB");
}

void Instrument::set_input_domain(std::int16_t code) {
    if (code != kAnalogueDomain && code != kDigitalDomain)
        refuse(std::to_string(code) + " is no input domain (0 analogue, 1 digital)");
    settings_.input_domain = code;
}

void Instrument::set_analogue_source(std::int16_t code) {
    require_member(Enumeration::AnalogueSource, code, "an analogue source code");
    settings_.analogue_source = code;
}

void Instrument::set_digital_source(std::int16_t code) {
    require_member(Enumeration::DigitalSource, code, "a digital connector code");
    settings_.digital_source = code;
}

void Instrument::set_frame_rate(std::int16_t connector, std::int32_t hz) {
    if (!is_member(Enumeration::DigitalSource, connector))
        throw std::invalid_argument("no digital connector has code " + std::to_string(connector));
    settings_.frame_rates_hz[connector] = hz;
}

void Instrument::set_full_scale(Channel ch, double v_rms, bool for_this_run_only) {
    if (!(std::isfinite(v_rms) && v_rms > 0.0))
        refuse(Value(v_rms).describe() + " V is no full scale: it takes volts RMS above 0");
    settings_.full_scale_v[index(ch)] = v_rms;
    settings_.calibrated[index(ch)] = true;
    calibration_for_this_run_[index(ch)] = for_this_run_only;
}

SavedCalibration Instrument::calibration_to_keep() const {
    SavedCalibration kept;
    for (Channel ch : {Channel::A, Channel::B}) {
        if (settings_.calibrated[index(ch)] && !calibration_for_this_run_[index(ch)])
            kept[index(ch)] = settings_.full_scale_v[index(ch)];
    }
    return kept;
}

SavedProfile Instrument::profile() const {
    AnalyserSettings s = settings_;
    s.functions[function_index(s.function)] = s.detector();
    SavedProfile p;
    p.function = s.function->name;
    for (const MeasurementFunction& f : kFunctions)
        p.functions[std::string(f.name)] = s.functions[function_index(&f)];
    p.input_domain = s.input_domain;
    p.analogue_source = s.analogue_source;
    p.digital_source = s.digital_source;
    p.self_reference = s.self_reference;
    p.generator_frequency_hz = generator_frequency_hz();
    p.generator_level_v = generator_level_v();
    p.generator_on = generator_on();
    return p;
}

std::vector<std::string> Instrument::restore(const SavedProfile& p,
                                             const SavedCalibration& calibration) {
    AnalyserSettings s = settings_;
    s.function = find_function(p.function);
    if (!s.function)
        refuse("the detector has no function named " + quoted_text(p.function));
    for (const auto& [name, f] : p.functions) {
        const MeasurementFunction* function = find_function(name);
        if (!function)
            continue;  // a later version's
        try {
            check_function_settings(*function, f);
        } catch (const AutomationError& e) {
            refuse(std::string(function->name) + ": " + e.reason());
        }
        s.functions[function_index(function)] = f;
    }
    s.set_detector(s.functions[function_index(s.function)]);
    if (p.input_domain != kAnalogueDomain && p.input_domain != kDigitalDomain)
        refuse(std::to_string(p.input_domain) + " is no input domain");
    require_member(Enumeration::AnalogueSource, p.analogue_source, "an analogue source code");
    require_member(Enumeration::DigitalSource, p.digital_source, "a digital connector code");
    s.input_domain = p.input_domain;
    s.analogue_source = p.analogue_source;
    s.digital_source = p.digital_source;
    s.self_reference = p.self_reference;
    std::array<bool, 2> for_this_run = calibration_for_this_run_;
    for (Channel ch : {Channel::A, Channel::B}) {
        const std::optional<double> full_scale_v = calibration[index(ch)];
        // A calibration given for this run stands over the saved one.
        if (!full_scale_v || calibration_for_this_run_[index(ch)])
            continue;
        if (!(std::isfinite(*full_scale_v) && *full_scale_v > 0.0))
            refuse("channel " + std::string(ch == Channel::A ? "A" : "B") +
                   "'s full scale is not above 0 V");
        s.full_scale_v[index(ch)] = *full_scale_v;
        s.calibrated[index(ch)] = true;
        for_this_run[index(ch)] = false;
    }
    try {
        source::Generator::check_level(p.generator_level_v);
    } catch (const std::invalid_argument& e) {
        refuse(e.what());
    }

    settings_ = s;
    calibration_for_this_run_ = for_this_run;
    measurement_.generator().set_level_v_rms(p.generator_level_v);
    measurement_.generator().set_on(p.generator_on);
    std::vector<std::string> notes;
    try {
        measurement_.generator().set_frequency_hz(p.generator_frequency_hz,
                                                  measurement_.generator_rate_hz());
    } catch (const std::invalid_argument& e) {
        // A frequency that another source's rate could play is no fault of the file.
        notes.push_back("the saved generator frequency is not played here (" +
                        std::string(e.what()) + "); the generator keeps " +
                        Value(generator_frequency_hz()).describe() + " Hz");
    }
    return notes;
}

double Instrument::reading(Channel ch) {
    last_read_ = ch;
    return measurement_.reading(settings_, ch);
}

std::int32_t Instrument::status() {
    return measurement_.status(settings_, last_read_);
}

std::int32_t Instrument::frame_rate_hz() const {
    return measurement_.frame_rate_hz(settings_);
}

double Instrument::generator_frequency_hz() const {
    return measurement_.generator().frequency_hz();
}

double Instrument::generator_level_v() const {
    return measurement_.generator().level_v_rms();
}

bool Instrument::generator_on() const {
    return measurement_.generator().on();
}

void Instrument::set_generator_frequency(double hz) {
    try {
        measurement_.generator().set_frequency_hz(hz, measurement_.generator_rate_hz());
    } catch (const std::invalid_argument& e) {
        refuse(e.what());
    }
}

void Instrument::set_generator_level(double v_rms) {
    try {
        measurement_.generator().set_level_v_rms(v_rms);
    } catch (const std::invalid_argument& e) {
        refuse(e.what());
    }
}

void Instrument::set_generator_on(bool on) {
    measurement_.generator().set_on(on);
}

}  // namespace vantel::instrument
