// SPDX-License-Identifier: MIT
#pragma once

// The analyser is reached only through late-bound automation: an object whose members are read
// and written by name at run time, each giving a dynamically typed value. Every backend (the
// built-in analyser, D-Bus, COM) implements AutomationObject; nothing else in the program
// knows which one it talks to.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantel {

class AutomationObject;
using ObjectRef = std::shared_ptr<AutomationObject>;

// The automation Boolean: True has every bit set, which is why the start-up's
// initialisation test works by bitwise complement.
enum class AutoBool : std::int16_t { False = 0, True = -1 };

struct NullValue {
    bool operator==(const NullValue&) const = default;
};

class Value {
public:
    enum class Kind { Empty, Null, Boolean, Integer, Double, Text, Object };

    Value() = default;  // the empty value
    Value(AutoBool b) : data_(b) {}
    Value(std::int64_t i) : data_(i) {}
    Value(int i) : data_(std::int64_t{i}) {}
    Value(double d) : data_(d) {}
    Value(std::string s) : data_(std::move(s)) {}
    Value(const char* s) : data_(std::string(s)) {}
    Value(ObjectRef o) : data_(std::move(o)) {}
    Value(bool) = delete;  // say AutoBool: a C++ bool has the wrong bits for automation

    static Value null() {
        Value v;
        v.data_ = NullValue{};
        return v;
    }
    static Value boolean(bool b) { return Value(b ? AutoBool::True : AutoBool::False); }

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool is_empty() const { return kind() == Kind::Empty; }
    bool is_null() const { return kind() == Kind::Null; }

    // Accessors for a known kind; they throw std::bad_variant_access on the wrong kind.
    AutoBool as_bool() const { return std::get<AutoBool>(data_); }
    std::int64_t as_integer() const { return std::get<std::int64_t>(data_); }
    double as_double() const { return std::get<double>(data_); }
    const std::string& as_text() const { return std::get<std::string>(data_); }
    const ObjectRef& as_object() const { return std::get<ObjectRef>(data_); }

    // Exact equality of kind and content (objects by identity); for tests and our analyser,
    // not for the panel's own comparisons, which are numeric.
    bool operator==(const Value& other) const = default;

    // A short description for messages and logs: 'empty', 'null', 'True', '42', '0.5', '"text"'.
    // Text is quoted as quoted_text does, so a huge value cannot flood a log.
    std::string describe() const;

private:
    std::variant<std::monostate, NullValue, AutoBool, std::int64_t, double, std::string, ObjectRef>
        data_;
};

// `text` in double quotes for a message or a log line: at most its first kQuotedTextLimit
// characters (whole UTF-8 sequences), then an ellipsis and the full length in bytes.
inline constexpr std::size_t kQuotedTextLimit = 200;
std::string quoted_text(std::string_view text);

// The one error for a failed analyser access or an unusable value: it names the member
// (with its sub-object, as in "CTDetector.CTD_Unit") and says why.
class AutomationError : public std::runtime_error {
public:
    AutomationError(std::string member, std::string reason);
    const std::string& member() const { return member_; }
    const std::string& reason() const { return reason_; }

private:
    std::string member_;
    std::string reason_;
};

// One member as the analyser describes it (for a listing such as vantel-dmm --list-members).
struct MemberInfo {
    std::string name;
    // What a read gives: Boolean, Integer, Double, Text or Object; Empty when the analyser does
    // not say.
    Value::Kind kind = Value::Kind::Empty;
    bool writable = false;
    // Never changes while the analyser runs: a named constant or a sub-object.
    bool constant = false;
    bool operator==(const MemberInfo&) const = default;
};

class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    // Both throw AutomationError when the access fails.
    virtual Value get(std::string_view member) = 0;
    virtual void set(std::string_view member, const Value& value) = 0;
    // The members this object offers, in the analyser's order. Throws AutomationError when the
    // analyser does not describe its members (late binding needs no description, so not every
    // analyser has one).
    virtual std::vector<MemberInfo> members();
};

// Whether `name` is written as the analyser writes its named constants: capitals and digits in
// words joined by underscores ("UNIT_DBU", "CTD_WEIGHTING_DEFAULT").
bool is_constant_name(std::string_view name);

// The word for a member's kind in a listing: "Boolean", "integer", "double", "text", "object",
// "unknown".
std::string kind_word(Value::Kind kind);

// Reads `object` from the application afresh, then `member` from it. The analyser's
// sub-objects are never cached: every access goes through the application object.
Value get_member(AutomationObject& app, std::string_view object, std::string_view member);
void set_member(AutomationObject& app, std::string_view object, std::string_view member,
                const Value& value);

// The sub-object named `object`, fetched from the application now.
ObjectRef get_object(AutomationObject& app, std::string_view object);

}  // namespace vantel
