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
    MemberType type;
    Value (*read)(const StateRef& state);                     // null for a sub-object
    void (*write)(AnalyserState& state, const Value& value);  // null for a read-only member
    std::span<const Member> children = {};                    // a sub-object's members
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

class SimObject final : public AutomationObject {
public:
    SimObject(StateRef state, std::string_view name, std::span<const Member> members)
        : state_(std::move(state)), name_(name), members_(members) {}

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;
    std::vector<vantel::MemberInfo> members() override;

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
    {"CTD_Function", MemberType::Text,
     [](const StateRef& s) { return Value(std::string(settings(s).function->name)); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_function(to_text(v)); }},
    {"CTD_Unit", MemberType::Code, [](const StateRef& s) { return code(settings(s).unit); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_unit(whole_code(v)); }},
    {"CTD_WeightingFilter", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).weighting); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_weighting(whole_code(v)); }},
    {"CTD_Response", MemberType::Code, [](const StateRef& s) { return code(settings(s).response); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_response(whole_code(v)); }},
    {"CTD_Relativity", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).relativity); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_relativity(whole_code(v)); }},
    {"CTD_ChA", MemberType::Double,
     [](const StateRef& s) { return Value(s->instrument.reading(Channel::A)); }, nullptr},
    {"CTD_ChB", MemberType::Double,
     [](const StateRef& s) { return Value(s->instrument.reading(Channel::B)); }, nullptr},
};

constexpr Member kSignalAnalyzer[] = {
    {"SA_Source", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).input_domain); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_input_domain(whole_code(v)); }},
    {"SA_DefaultWeightingFilter", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).default_weighting); }, nullptr},
    {"SA_Status", MemberType::Int32,
     [](const StateRef& s) { return Value(std::int64_t{s->instrument.status()}); }, nullptr},
    {"SA_SourceName", MemberType::Text,
     [](const StateRef& s) { return Value(s->instrument.source_name()); }, nullptr},
    {"SA_InvalidSamples", MemberType::Int64,
     [](const StateRef& s) { return Value(s->instrument.measurement().invalid_samples()); },
     nullptr},
};

constexpr Member kAnalogueInputs[] = {
    {"AI_Source", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).analogue_source); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_analogue_source(whole_code(v)); }},
    {"AI_FullScaleA", MemberType::Double,
     [](const StateRef& s) { return Value(settings(s).full_scale_v[index(Channel::A)]); },
     [](AnalyserState& s, const Value& v) {
         s.instrument.set_full_scale(Channel::A, to_double(v));
     }},
    {"AI_FullScaleB", MemberType::Double,
     [](const StateRef& s) { return Value(settings(s).full_scale_v[index(Channel::B)]); },
     [](AnalyserState& s, const Value& v) {
         s.instrument.set_full_scale(Channel::B, to_double(v));
     }},
};

constexpr Member kDigitalInputs[] = {
    {"DI_Source", MemberType::Code,
     [](const StateRef& s) { return code(settings(s).digital_source); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_digital_source(whole_code(v)); }},
    {"DI_FrameRate", MemberType::Int32,
     [](const StateRef& s) { return Value(std::int64_t{s->instrument.frame_rate_hz()}); }, nullptr},
};

constexpr Member kGenerator[] = {
    {"GEN_Frequency", MemberType::Double,
     [](const StateRef& s) { return Value(s->instrument.generator_frequency_hz()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_frequency(to_double(v)); }},
    {"GEN_Level", MemberType::Double,
     [](const StateRef& s) { return Value(s->instrument.generator_level_v()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_level(to_double(v)); }},
    {"GEN_On", MemberType::Boolean,
     [](const StateRef& s) { return Value::boolean(s->instrument.generator_on()); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_generator_on(switch_state(v)); }},
};

constexpr Member kOptions[] = {
    {"OPT_UseSettlingsFromScripts", MemberType::AsWritten,
     [](const StateRef& s) { return s->instrument.settling_option(); },
     [](AnalyserState& s, const Value& v) { s.instrument.set_settling_option(v); }},
};

// Besides these, the application object publishes every named constant (constants.h).
constexpr Member kApplication[] = {
    {"IsInitialised", MemberType::Boolean,
     [](const StateRef& s) { return Value::boolean(s->instrument.initialised()); }, nullptr},
    {"CTDetector", MemberType::Object, nullptr, nullptr, kDetector},
    {"SignalAnalyzer", MemberType::Object, nullptr, nullptr, kSignalAnalyzer},
    {"AnalogueInputs", MemberType::Object, nullptr, nullptr, kAnalogueInputs},
    {"DigitalInputs", MemberType::Object, nullptr, nullptr, kDigitalInputs},
    {"Options", MemberType::Object, nullptr, nullptr, kOptions},
    {"Generator", MemberType::Object, nullptr, nullptr, kGenerator},
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

Value SimObject::get(std::string_view member) {
    const std::string p = path(member);
    state_->faults.on_access(p);
    if (const Value* odd = state_->faults.override_for(p))
        return *odd;
    if (const Member* m = find(member))
        return m->read ? m->read(state_) : sub_object(state_, m->name, m->children);
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
    state_->settings_changed();
}

MemberInfo info(const Member& m, bool constant = false) {
    return {m.name, m.type, m.write != nullptr, constant};
}

// What a read of a member of this type gives a client.
Value::Kind kind_of(MemberType type) {
    switch (type) {
        case MemberType::Code:
        case MemberType::Int32:
        case MemberType::Int64:
            return Value::Kind::Integer;
        case MemberType::Double:
            return Value::Kind::Double;
        case MemberType::Text:
            return Value::Kind::Text;
        case MemberType::Object:
            return Value::Kind::Object;
        case MemberType::Boolean:
        case MemberType::AsWritten:
            break;
    }
    return Value::Kind::Boolean;
}

std::vector<vantel::MemberInfo> SimObject::members() {
    std::vector<vantel::MemberInfo> list;
    for (const Member& m : members_) {
        list.push_back({std::string(m.name), kind_of(m.type), m.write != nullptr,
                        m.type == MemberType::Object});
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

std::vector<ObjectInfo> object_model() {
    std::vector<ObjectInfo> model(1);
    for (const Member& m : kApplication) {
        // The sub-objects are the same views on the one analyser for the whole run.
        model.front().members.push_back(info(m, m.type == MemberType::Object));
    }
    for (const NamedConstant& c : kConstants)
        model.front().members.push_back({c.name, MemberType::Code, false, true});
    for (const Member& sub : kApplication) {
        if (sub.type != MemberType::Object)
            continue;
        ObjectInfo& object = model.emplace_back();
        object.name = sub.name;
        for (const Member& m : sub.children)
            object.members.push_back(info(m));
    }
    return model;
}

}  // namespace vantel::instrument
