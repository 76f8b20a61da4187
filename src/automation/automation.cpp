// SPDX-License-Identifier: MIT
#include "automation/automation.h"

#include "automation/conversions.h"

namespace vantel {

std::string quoted_text(std::string_view text) {
    if (text.size() <= kQuotedTextLimit)
        return '"' + std::string(text) + '"';
    // Count characters, not bytes: stop before the first byte of the character past the limit.
    std::size_t end = 0;
    std::size_t characters = 0;
    while (end < text.size()) {
        const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
        if (starts_character && characters++ == kQuotedTextLimit)
            break;
        ++end;
    }
    if (end == text.size())
        return '"' + std::string(text) + '"';
    return '"' + std::string(text.substr(0, end)) + "\u2026\" (" + std::to_string(text.size()) +
           " bytes)";
}

std::string Value::describe() const {
    switch (kind()) {
        case Kind::Empty:
            return "empty";
        case Kind::Null:
            return "null";
        case Kind::Boolean:
            return as_bool() == AutoBool::False ? "False"
                   : as_bool() == AutoBool::True
                       ? "True"
                       : "Boolean " + std::to_string(static_cast<int>(as_bool()));
        case Kind::Integer:
            return std::to_string(as_integer());
        case Kind::Double:
            return number_text(as_double());
        case Kind::Text:
            return quoted_text(as_text());
        case Kind::Object:
            return "object";
    }
    return "?";
}

AutomationError::AutomationError(std::string member, std::string reason)
    : std::runtime_error(member.empty() ? reason : member + ": " + reason),
      member_(std::move(member)),
      reason_(std::move(reason)) {}

std::vector<MemberInfo> AutomationObject::members() {
    throw AutomationError({}, "this analyser does not describe its members");
}

bool is_constant_name(std::string_view name) {
    if (name.empty() || name.front() < 'A' || name.front() > 'Z' || name.back() == '_' ||
        name.find('_') == std::string_view::npos || name.find("__") != std::string_view::npos)
        return false;
    for (char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

std::string kind_word(Value::Kind kind) {
    switch (kind) {
        case Value::Kind::Boolean:
            return "Boolean";
        case Value::Kind::Integer:
            return "integer";
        case Value::Kind::Double:
            return "double";
        case Value::Kind::Text:
            return "text";
        case Value::Kind::Object:
            return "object";
        case Value::Kind::Empty:
        case Value::Kind::Null:
            break;
    }
    return "unknown";
}

namespace {

std::string path(std::string_view object, std::string_view member) {
    std::string p(object);
    p += '.';
    p += member;
    return p;
}

}  // namespace

ObjectRef get_object(AutomationObject& app, std::string_view object) {
    Value v = app.get(object);
    if (v.kind() != Value::Kind::Object || !v.as_object())
        throw AutomationError(std::string(object), "is " + v.describe() + ", not an object");
    return v.as_object();
}

Value get_member(AutomationObject& app, std::string_view object, std::string_view member) {
    ObjectRef sub = get_object(app, object);
    try {
        return sub->get(member);
    } catch (const AutomationError& e) {
        throw AutomationError(path(object, member), e.reason());
    }
}

void set_member(AutomationObject& app, std::string_view object, std::string_view member,
                const Value& value) {
    ObjectRef sub = get_object(app, object);
    try {
        sub->set(member, value);
    } catch (const AutomationError& e) {
        throw AutomationError(path(object, member), e.reason());
    }
}

}  // namespace vantel
