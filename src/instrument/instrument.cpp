// SPDX-License-Identifier: MIT
#include "instrument/instrument.h"

#include <chrono>
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

}  // namespace

Instrument::Instrument(std::function<double()> clock, double initialise_after_s,
                       std::unique_ptr<source::SampleSource> source,
                       std::shared_ptr<source::Generator> generator, std::uint64_t seed,
                       double analogue_full_scale_v)
    : clock_(clock ? std::move(clock) : std::function<double()>(steady_seconds)),
      switched_on_s_(clock_()),
      initialise_after_s_(initialise_after_s),
      measurement_(std::move(source), std::move(generator), seed, clock_, analogue_full_scale_v) {}

double Instrument::now_s() const {
    return clock_() - switched_on_s_;
}

bool Instrument::initialised() const {
    return now_s() >= initialise_after_s_;
}

std::int16_t Instrument::absolute_unit() const {
    return settings_.function->kind == FunctionKind::Frequency ? code_of("UNIT_FREQ_HZ")
                                                               : settings_.last_level_unit;
}

void Instrument::take_self_reference() {
    for (Channel ch : {Channel::A, Channel::B})
        settings_.self_reference[index(ch)] = measurement_.quantity(settings_, ch).value;
}

void Instrument::set_function(std::string_view name) {
    const MeasurementFunction* function = find_function(name);
    if (!function)
        refuse("the detector has no function named " + quoted_text(name));
    settings_.function = function;
    if (settings_.relativity == kAbsolute)
        settings_.unit = absolute_unit();
    // A reference taken for another function would compare unlike quantities.
    if (settings_.relativity == code_of("CTD_RELATIVITY_SELF"))
        take_self_reference();
}

void Instrument::set_unit(std::int16_t code) {
    require_member(Enumeration::Unit, code, "a unit code");
    const std::string name = describe_code(Enumeration::Unit, code);
    const UnitFamily family = family_of(code);
    if (family == UnitFamily::Unsupported)
        refuse("the detector does not read in " + name);
    if (settings_.relativity != kAbsolute) {
        if (family != UnitFamily::Relative)
            refuse(name + " is absolute, but the detector measures relative to " +
                   describe_code(Enumeration::Relativity, settings_.relativity));
    } else if (family == UnitFamily::Relative) {
        refuse(name + " is relative, but the detector measures absolute");
    } else if (family != family_of(absolute_unit())) {
        refuse(name + " does not fit the function \"" + std::string(settings_.function->name) +
               '"');
    }
    settings_.unit = code;
    if (family == UnitFamily::Level)
        settings_.last_level_unit = code;
}

void Instrument::set_weighting(std::int16_t code) {
    if (code != kUnnamedWeighting)
        require_member(Enumeration::Weighting, code, "a weighting filter code");
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
    if (code == kAbsolute && relative_unit)
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

double Instrument::reading(Channel ch) {
    return measurement_.reading(settings_, ch);
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
