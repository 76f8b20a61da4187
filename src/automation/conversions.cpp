// SPDX-License-Identifier: MIT
#include "automation/conversions.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vantel {

namespace {

[[noreturn]] void refuse(std::string_view member, const Value& v, std::string_view wanted) {
    throw AutomationError(std::string(member), v.describe() + " is not " + std::string(wanted));
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A text that is a number in the C locale's notation, or nothing.
bool parse_number(std::string_view text, double& out) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// Any value that stands for a number, as a double; the rest are refused.
double numeric(const Value& v, std::string_view member, std::string_view wanted) {
    switch (v.kind()) {
        case Value::Kind::Empty:
            return 0.0;
        case Value::Kind::Boolean:
            return static_cast<double>(static_cast<std::int16_t>(v.as_bool()));
        case Value::Kind::Integer:
            return static_cast<double>(v.as_integer());
        case Value::Kind::Double:
            return v.as_double();
        case Value::Kind::Text: {
            double d = 0.0;
            if (parse_number(v.as_text(), d))
                return d;
            break;
        }
        case Value::Kind::Null:
        case Value::Kind::Object:
            break;
    }
    refuse(member, v, wanted);
}

template <typename Int>
Int whole(const Value& v, std::string_view member, std::string_view wanted) {
    if (v.kind() == Value::Kind::Integer) {
        std::int64_t i = v.as_integer();
        if (i < std::numeric_limits<Int>::min() || i > std::numeric_limits<Int>::max())
            refuse(member, v, wanted);
        return static_cast<Int>(i);
    }
    double r = round_half_even(numeric(v, member, wanted));
    if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          r <= static_cast<double>(std::numeric_limits<Int>::max())))
        refuse(member, v, wanted);  // also catches NaN
    return static_cast<Int>(r);
}

}  // namespace

double round_half_even(double x) {
    if (!std::isfinite(x))
        return x;
    double r = std::round(x);
    if (std::fabs(x - std::trunc(x)) == 0.5)
        r = 2.0 * std::round(x / 2.0);
    return r;
}

std::int16_t to_code(const Value& v, std::string_view member) {
    return whole<std::int16_t>(v, member, "a 16-bit code");
}

std::int32_t to_int32(const Value& v, std::string_view member) {
    return whole<std::int32_t>(v, member, "a 32-bit whole number");
}

double to_double(const Value& v, std::string_view member) {
    return numeric(v, member, "a number");
}

std::string to_text(const Value& v, std::string_view member) {
    switch (v.kind()) {
        case Value::Kind::Empty:
            return {};
        case Value::Kind::Boolean:
            return v.as_bool() == AutoBool::False ? "False" : "True";
        case Value::Kind::Integer:
            return std::to_string(v.as_integer());
        case Value::Kind::Double:
            return number_text(v.as_double());
        case Value::Kind::Text:
            return v.as_text();
        case Value::Kind::Null:
        case Value::Kind::Object:
            break;
    }
    refuse(member, v, "text");
}

std::string number_text(double x) {
    if (x == 0.0)
        return "0";
    if (std::isnan(x))
        return "NaN";
    if (std::isinf(x))
        return x > 0 ? "Inf" : "-Inf";

    // Fifteen significant digits in scientific notation; to_chars ignores the C locale.
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    bool negative = sci.front() == '-';
    if (negative)
        sci.remove_prefix(1);
    std::size_t e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos))
        if (c != '.')
            digits += c;
    int exponent = 0;
    std::string_view exp_text = sci.substr(e_pos + 1);
    if (exp_text.front() == '+')
        exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -4) {
        out += digits.front();
        if (digits.size() > 1)
            out += '.' + digits.substr(1);
        // At least two exponent digits. Appended rather than inserted: GCC 12 at -O3 reports a
        // false -Wrestrict overlap on std::string::insert at the front.
        int magnitude = exponent < 0 ? -exponent : exponent;
        out += exponent < 0 ? "E-" : "E+";
        if (magnitude < 10)
            out += '0';
        out += std::to_string(magnitude);
    } else if (exponent < 0) {
        out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        auto int_len = static_cast<std::size_t>(exponent + 1);
        if (digits.size() <= int_len) {
            out += digits + std::string(int_len - digits.size(), '0');
        } else {
            out += digits.substr(0, int_len) + '.' + digits.substr(int_len);
        }
    }
    return out;
}

bool initialisation_done(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null:
            return true;
        case Value::Kind::Text: {
            // Automation coerces the words of a Boolean as well as numbers.
            std::string_view t = trimmed(v.as_text());
            if (t.size() == 4 && (t[0] == 'T' || t[0] == 't') && t.substr(1) == "rue")
                return true;
            if (t.size() == 5 && (t[0] == 'F' || t[0] == 'f') && t.substr(1) == "alse")
                return false;
            break;
        }
        default:
            break;
    }
    // The complement of a whole number is zero only when every bit is set, that is for -1.
    return to_int32(v, "IsInitialised") == -1;
}

}  // namespace vantel
