// SPDX-License-Identifier: MIT
#include "app/member_access.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <utility>

namespace vantel {

namespace {

// The automation interface's own naming: a member's prefix is its sub-object's.
constexpr std::pair<std::string_view, std::string_view> kPrefixes[] = {
    {"CTD_", "CTDetector"},   {"SA_", "SignalAnalyzer"}, {"AI_", "AnalogueInputs"},
    {"DI_", "DigitalInputs"}, {"OPT_", "Options"},       {"GEN_", "Generator"},
};

// The panel switches it off for the run and puts back what it found; a value written here
// would be what it found, and the user's own setting would be lost.
constexpr std::string_view kPanelsOwnOption = "OPT_UseSettlingsFromScripts";

bool is_identifier(std::string_view s) {
    return !s.empty() && std::isalpha(static_cast<unsigned char>(s.front())) &&
           std::all_of(s.begin(), s.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
           });
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A decimal number as a script writes it; "." is the mark whatever the locale. Words that
// from_chars also takes ("inf", "nan") are text here.
std::optional<Value> number(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        return std::nullopt;
    std::string_view digits = text.front() == '+' ? text.substr(1) : text;
    const char* end = digits.data() + digits.size();
    std::int64_t whole = 0;
    if (auto r = std::from_chars(digits.data(), end, whole); r.ec == std::errc() && r.ptr == end)
        return Value(whole);
    double real = 0.0;
    if (auto r = std::from_chars(digits.data(), end, real); r.ec == std::errc() && r.ptr == end)
        return Value(real);
    return std::nullopt;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::optional<MemberWrite> parse_member_write(std::string_view text, std::string& error) {
    const std::size_t equals = text.find('=');
    MemberWrite write{std::string(text), {}, {}, {}};
    const std::string_view name = text.substr(0, equals);
    if (equals == std::string_view::npos || name.empty()) {
        error = "--set takes NAME=VALUE, not \"" + write.given + "\"";
        return std::nullopt;
    }
    write.value = std::string(text.substr(equals + 1));
    if (const std::size_t dot = name.find('.'); dot != std::string_view::npos) {
        write.object = std::string(name.substr(0, dot));
        write.member = std::string(name.substr(dot + 1));
    } else {
        write.member = std::string(name);
        for (const auto& [prefix, object] : kPrefixes) {
            if (name.starts_with(prefix))
                write.object = std::string(object);
        }
        if (write.object.empty()) {
            error = "--set " + write.given + ": no sub-object's members begin so; name it as " +
                    "OBJECT.MEMBER (CTDetector.CTD_Unit)";
            return std::nullopt;
        }
    }
    if (!is_identifier(write.object) || !is_identifier(write.member)) {
        error = "--set " + write.given + ": \"" + std::string(name) + "\" is not a member's name";
        return std::nullopt;
    }
    if (write.member == kPanelsOwnOption) {
        error = "--set " + write.given + ": the panel keeps " + std::string(kPanelsOwnOption) +
                " off while it runs and puts back what it found, so it cannot be set";
        return std::nullopt;
    }
    return write;
}

Value resolve_value(AutomationObject& app, std::string_view value) {
    if (equals_ignoring_case(value, "true"))
        return Value(AutoBool::True);
    if (equals_ignoring_case(value, "false"))
        return Value(AutoBool::False);
    if (std::optional<Value> n = number(value))
        return *n;
    if (!is_constant_name(value))
        return Value(std::string(value));
    Value code;
    try {
        code = app.get(value);
    } catch (const AutomationError& e) {
        throw AutomationError(
            std::string(value),
            "the analyser offers no named constant of this name (" + e.reason() + ")");
    }
    if (code.kind() != Value::Kind::Integer)
        throw AutomationError(std::string(value),
                              "is " + code.describe() + ", not a named constant's code");
    return code;
}

void apply_writes(AutomationObject& app, const std::vector<MemberWrite>& writes) {
    for (const MemberWrite& w : writes) {
        try {
            set_member(app, w.object, w.member, resolve_value(app, w.value));
        } catch (const AutomationError& e) {
            throw AutomationError("--set " + w.given, e.what());
        }
    }
}

std::string member_listing(AutomationObject& app) {
    struct Line {
        std::string name, kind, last;  // last: the access, or a constant's value
    };
    std::vector<Line> members{{"MEMBER", "TYPE", "ACCESS"}};
    std::vector<Line> constants{{"NAMED CONSTANT", "TYPE", "VALUE"}};
    const auto member = [&](std::string name, const MemberInfo& m) {
        members.push_back(
            {std::move(name), kind_word(m.kind), m.writable ? "read, write" : "read"});
    };
    const std::vector<MemberInfo> top = app.members();
    for (const MemberInfo& m : top) {
        if (m.constant && m.kind == Value::Kind::Integer)
            constants.push_back({m.name, kind_word(m.kind), app.get(m.name).describe()});
        else
            member(m.name, m);
    }
    for (const MemberInfo& sub : top) {
        if (sub.kind != Value::Kind::Object)
            continue;
        for (const MemberInfo& m : get_object(app, sub.name)->members())
            member(sub.name + '.' + m.name, m);
    }
    std::size_t name_width = 0;
    std::size_t kind_width = 0;
    for (const std::vector<Line>* table : {&members, &constants}) {
        for (const Line& l : *table) {
            name_width = std::max(name_width, l.name.size() + 2);
            kind_width = std::max(kind_width, l.kind.size() + 2);
        }
    }
    std::string text;
    for (const std::vector<Line>* table : {&members, &constants}) {
        if (!text.empty())
            text += '\n';
        for (const Line& l : *table)
            text += padded(l.name, name_width) + padded(l.kind, kind_width) + l.last + '\n';
    }
    return text;
}

}  // namespace vantel
