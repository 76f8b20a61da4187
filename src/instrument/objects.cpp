// SPDX-License-Identifier: MIT
#include "instrument/objects.h"

#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/conversions.h"

namespace vantel::instrument {

namespace {

using StateRef = std::shared_ptr<AnalyserState>;

struct Member {
    std::string_view name;
    Value (*read)(const StateRef& state);
    void (*write)(AnalyserState& state, const Value& value);  // null for a read-only member
};

// An enumeration code as written: automation coerces numbers and numeric text, but a code with
// a fraction is a caller's mistake the analyser refuses rather than rounds.
std::int16_t whole_code(const Value& v) {
    if (v.kind() == Value::Kind::Double || v.kind() == Value::Kind::Text) {
        const double d = to_double(v);
        if (!(d == std::trunc(d)))
            throw AutomationError({}, v.describe() + " is not a whole number");
    }
    return to_code(v);
}

// An on/off switch as written: the automation Boolean, or the numbers it stands for (0 off;
// -1 and 1 on). Anything else is a caller's mistake, refused rather than guessed at.
bool switch_state(const Value& v) {
    if (v.kind() == Value::Kind::Boolean)
        return v.as_bool() != AutoBool::False;
    if (v.kind() == Value::Kind::Integer && v.as_integer() >= -1 && v.as_integer() <= 1)
        return v.as_integer() != 0;
    throw AutomationError({}, v.describe() + " is not a Boolean");
}

Value code(std::int16_t c) {
    return Value(std::int64_t{c});
}

const AnalyserSettings& settings(const StateRef& s) {
    return s->instrument.settings();
}

class SimObject final : public AnalyserObject {
public:
    SimObject(StateRef state, std::string_view name, std::span<const Member> members)
        : state_(std::move(state)), name_(name), members_(members) {}

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;
    std::vector<MemberListing> served_members() const override;
    std::vector<MemberInfo> members() override;

private:
    bool is_application() const { return name_.empty(); }
    std::string path(std::string_view member) const;
    const Member* find(std::string_view member) const;

    StateRef state_;
    std::string_view name_;  // empty for the application object
    std::span<const Member> members_;
};

Value sub_object(const StateRef& state, std::string_view name, std::span<const Member> members) {
    return Value(ObjectRef(std::make_shared<SimObject>(state, name, members)));
}

constexpr Member kDetector[] = {
    {"CTD_Function",
     [](const StateRef& s) { return Value(std::string(settings(s).function->name)); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_function(to_text(v)); }},
    {"CTD_Unit", [](const StateRef& s) { return code(settings(s).unit); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_unit(whole_code(v)); }},
    {"CTD_WeightingFilter", [](const StateRef& s) { return code(settings(s).weighting); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_weighting(whole_code(v)); }},
    {"CTD_Response", [](const StateRef& s) { return code(settings(s).response); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_response(whole_code(v)); }},
    {"CTD_Relativity", [](const StateRef& s) { return code(settings(s).relativity); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_relativity(whole_code(v)); }},
    {"CTD_ChA", [](const StateRef& s) { return Value(s->instrument.reading(Channel::A)); },
     nullptr},
    {"CTD_ChB", [](const StateRef& s) { return Value(s->instrument.reading(Channel::B)); },
     nullptr},
};

constexpr Member kSignalAnalyzer[] = {
    {"SA_Source", [](const StateRef& s) { return code(settings(s).input_domain); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_input_domain(whole_code(v)); }},
    {"SA_DefaultWeightingFilter",
     [](const StateRef& s) { return code(settings(s).default_weighting); }, nullptr},
};

constexpr Member kAnalogueInputs[] = {
    {"AI_Source", [](const StateRef& s) { return code(settings(s).analogue_source); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_analogue_source(whole_code(v)); }},
};

constexpr Member kDigitalInputs[] = {
    {"DI_Source", [](const StateRef& s) { return code(settings(s).digital_source); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_digital_source(whole_code(v)); }},
    {"DI_FrameRate",
     [](const StateRef& s) { return Value(std::int64_t{s->instrument.frame_rate_hz()}); }, nullptr},
};

constexpr Member kGenerator[] = {
    {"GEN_Frequency",
     [](const StateRef& s) { return Value(s->instrument.generator_frequency_hz()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_frequency(to_double(v)); }},
    {"GEN_Level", [](const StateRef& s) { return Value(s->instrument.generator_level_v()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_level(to_double(v)); }},
    {"GEN_On", [](const StateRef& s) { return Value::boolean(s->instrument.generator_on()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_on(switch_state(v)); }},
};

constexpr Member kOptions[] = {
    {"OPT_UseSettlingsFromScripts",
     [](const StateRef& s) { return s->instrument.settling_option(); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_settling_option(v); }},
};

// Besides these, the application object publishes every named constant (constants.h).
constexpr Member kApplication[] = {
    {"IsInitialised", [](const StateRef& s) { return Value::boolean(s->instrument.initialised()); },
     nullptr},
    {"CTDetector", [](const StateRef& s) { return sub_object(s, "CTDetector", kDetector); },
     nullptr},
    {"SignalAnalyzer",
     [](const StateRef& s) { return sub_object(s, "SignalAnalyzer", kSignalAnalyzer); }, nullptr},
    {"AnalogueInputs",
     [](const StateRef& s) { return sub_object(s, "AnalogueInputs", kAnalogueInputs); }, nullptr},
    {"DigitalInputs",
     [](const StateRef& s) { return sub_object(s, "DigitalInputs", kDigitalInputs); }, nullptr},
    {"Options", [](const StateRef& s) { return sub_object(s, "Options", kOptions); }, nullptr},
    {"Generator", [](const StateRef& s) { return sub_object(s, "Generator", kGenerator); },
     nullptr},
};

std::string SimObject::path(std::string_view member) const {
    if (is_application())
        return std::string(member);
    std::string p(name_);
    p += '.';
    p += member;
    return p;
}

const Member* SimObject::find(std::string_view member) const {
    for (const Member& m : members_) {
        if (m.name == member)
            return &m;
    }
    return nullptr;
}

std::vector<MemberListing> SimObject::served_members() const {
    std::vector<MemberListing> listing;
    for (const Member& m : members_)
        listing.push_back({m.name, m.write != nullptr});
    if (is_application()) {
        for (const NamedConstant& c : kConstants)
            listing.push_back({c.name, false});
    }
    return listing;
}

Value SimObject::get(std::string_view member) {
    const std::string p = path(member);
    state_->faults.on_access(p);
    if (const Value* odd = state_->faults.override_for(p))
        return *odd;
    if (const Member* m = find(member))
        return m->read(state_);
    if (is_application()) {
        if (const NamedConstant* c = find_constant(member))
            return code(c->code);
    }
    throw AutomationError(p, "no such member");
}

void SimObject::set(std::string_view member, const Value& value) {
    const std::string p = path(member);
    state_->faults.on_access(p);
    const Member* m = find(member);
    if (!m) {
        const bool constant = is_application() && find_constant(member);
        throw AutomationError(p, constant ? "a named constant, read-only" : "no such member");
    }
    if (!m->write)
        throw AutomationError(p, "read-only");
    try {
        m->write(*state_, value);
    } catch (const AutomationError& e) {
        throw AutomationError(p, e.reason());
    }
}

std::vector<MemberInfo> SimObject::members() {
    std::vector<MemberInfo> list;
    for (const Member& m : members_) {
        // The tables hold no types: a member is of the kind its value has.
        const Value::Kind kind = m.read(state_).kind();
        list.push_back(
            {std::string(m.name), kind, m.write != nullptr, kind == Value::Kind::Object});
    }
    if (is_application()) {
        for (const NamedConstant& c : kConstants)
            list.push_back({std::string(c.name), Value::Kind::Integer, false, true});
    }
    return list;
}

}  // namespace

ObjectRef make_application(std::shared_ptr<AnalyserState> state) {
    return std::make_shared<SimObject>(std::move(state), std::string_view{}, kApplication);
}

}  // namespace vantel::instrument
