// SPDX-License-Identifier: MIT
#include "instrument/saved_state.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace vantel::instrument {

namespace {

constexpr std::string_view kFirstLine =
    "# Vantel DMM: our analyser's settings, kept between runs. Written whole by the analyser.";
constexpr std::string_view kAnalyserSection = "analyser";
constexpr std::string_view kCalibrationPrefix = "calibration/";

struct KindName {
    SourceKind kind;
    std::string_view name;
};
constexpr KindName kKindNames[] = {
    {SourceKind::Simulated, "simulated"},
    {SourceKind::File, "file"},
    {SourceKind::SoundCard, "sound card"},
};

std::string_view kind_name(SourceKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind)
            return k.name;
    return "simulated";
}

std::optional<SourceKind> kind_named(std::string_view name) {
    for (const KindName& k : kKindNames)
        if (k.name == name)
            return k.kind;
    return std::nullopt;
}

bool must_escape(unsigned char c, bool slash) {
    return c < 0x20 || c == 0x7f || c == '%' || c == '=' || c == '[' || c == ']' ||
           (slash && c == '/');
}

std::string escaped(std::string_view text, bool slash = false) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (must_escape(c, slash)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size())
            return std::nullopt;
        const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (ec != std::errc() || end != text.data() + i + 3)
            return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string number(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

void section(std::string& out, std::string_view name) {
    out += "\n[";
    out += name;
    out += "]\n";
}

void entry(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

// One section's lines, as read.
using Entries = std::map<std::string, std::string, std::less<>>;

class Reader {
public:
    explicit Reader(std::string& error) : error_(error) {}

    bool failed() const { return !error_.empty(); }
    void fail(std::string why) {
        if (error_.empty())
            error_ = std::move(why);
    }

    std::optional<std::int16_t> code(const Entries& e, std::string_view key) {
        const std::string* text = find(e, key);
        if (!text)
            return std::nullopt;
        int value = 0;
        const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (ec != std::errc() || end != text->data() + text->size() ||
            value < std::numeric_limits<std::int16_t>::min() ||
            value > std::numeric_limits<std::int16_t>::max()) {
            fail(std::string(key) + "=" + *text + " is not a whole number within 16 bits");
            return std::nullopt;
        }
        return static_cast<std::int16_t>(value);
    }

    std::optional<double> real(const Entries& e, std::string_view key) {
        const std::string* text = find(e, key);
        if (!text)
            return std::nullopt;
        double value = 0.0;
        const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (ec != std::errc() || end != text->data() + text->size() || !std::isfinite(value)) {
            fail(std::string(key) + "=" + *text + " is not a finite number");
            return std::nullopt;
        }
        return value;
    }

    std::optional<bool> flag(const Entries& e, std::string_view key) {
        const std::string* text = find(e, key);
        if (!text)
            return std::nullopt;
        if (*text != "0" && *text != "1") {
            fail(std::string(key) + "=" + *text + " is neither 0 nor 1");
            return std::nullopt;
        }
        return *text == "1";
    }

private:
    static const std::string* find(const Entries& e, std::string_view key) {
        auto it = e.find(key);
        return it == e.end() ? nullptr : &it->second;
    }

    std::string& error_;
};

template <typename T>
void take(std::optional<T> value, T& into) {
    if (value)
        into = *value;
}

}  // namespace

std::string saved_state_text(const SavedState& state) {
    std::string out(kFirstLine);
    out += '\n';
    section(out, kAnalyserSection);
    if (state.source)
        entry(out, "source", escaped(*state.source));
    for (const auto& [kind, p] : state.profiles) {
        const std::string kind_section = escaped(kind_name(kind));
        section(out, kind_section);
        entry(out, "function", escaped(p.function));
        entry(out, "input_domain", std::to_string(p.input_domain));
        entry(out, "analogue_source", std::to_string(p.analogue_source));
        entry(out, "digital_source", std::to_string(p.digital_source));
        entry(out, "self_reference_a", number(p.self_reference[0]));
        entry(out, "self_reference_b", number(p.self_reference[1]));
        entry(out, "generator_frequency_hz", number(p.generator_frequency_hz));
        entry(out, "generator_level_v", number(p.generator_level_v));
        entry(out, "generator_on", p.generator_on ? "1" : "0");
        for (const auto& [name, f] : p.functions) {
            section(out, kind_section + "/" + escaped(name));
            entry(out, "unit", std::to_string(f.unit));
            entry(out, "last_level_unit", std::to_string(f.last_level_unit));
            entry(out, "weighting", std::to_string(f.weighting));
            entry(out, "response", std::to_string(f.response));
            entry(out, "relativity", std::to_string(f.relativity));
        }
    }
    for (const auto& [source, calibration] : state.calibrations) {
        section(out, std::string(kCalibrationPrefix) + escaped(source, true));
        if (calibration[0])
            entry(out, "full_scale_a_v", number(*calibration[0]));
        if (calibration[1])
            entry(out, "full_scale_b_v", number(*calibration[1]));
    }
    return out;
}

std::optional<SavedState> parse_saved_state(std::string_view text, std::string& error) {
    error.clear();
    std::map<std::string, Entries, std::less<>> sections;
    Reader reader(error);
    Entries* current = nullptr;
    std::size_t line_number = 0;
    while (!text.empty() && !reader.failed()) {
        ++line_number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string where = "line " + std::to_string(line_number) + ": ";
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::optional<std::string> name = line.back() == ']' && line.size() >= 2
                                                        ? unescaped(line.substr(1, line.size() - 2))
                                                        : std::nullopt;
            if (!name) {
                reader.fail(where + "a section's name is not closed by ']' or is badly escaped");
                break;
            }
            // A repeated section is read as one; its keys, like any, take the last value.
            current = &sections[std::string(line.substr(1, line.size() - 2))];
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::optional<std::string> key =
            equals == std::string_view::npos ? std::nullopt : unescaped(line.substr(0, equals));
        const std::optional<std::string> value =
            key ? unescaped(line.substr(equals + 1)) : std::nullopt;
        if (!key || !value || key->empty()) {
            reader.fail(where + "neither a [section] nor a key=value line");
            break;
        }
        if (!current) {
            reader.fail(where + "a value before any [section]");
            break;
        }
        (*current)[*key] = *value;
    }
    if (reader.failed())
        return std::nullopt;

    SavedState state;
    for (const auto& [raw_name, entries] : sections) {
        // Section names stay escaped while they are matched, so that a '/' in a calibration's
        // source is told from the separator.
        if (raw_name == kAnalyserSection) {
            if (auto it = entries.find("source"); it != entries.end())
                state.source = it->second;
            continue;
        }
        if (raw_name.starts_with(kCalibrationPrefix)) {
            const std::optional<std::string> source =
                unescaped(std::string_view(raw_name).substr(kCalibrationPrefix.size()));
            if (!source) {
                reader.fail("[" + raw_name + "]: the source's name is badly escaped");
                break;
            }
            SavedCalibration& c = state.calibrations[*source];
            c[0] = reader.real(entries, "full_scale_a_v");
            c[1] = reader.real(entries, "full_scale_b_v");
            continue;
        }
        const std::size_t slash = raw_name.find('/');
        const std::optional<std::string> kind_text =
            unescaped(std::string_view(raw_name).substr(0, slash));
        const std::optional<SourceKind> kind =
            kind_text ? kind_named(*kind_text) : std::optional<SourceKind>();
        if (!kind)
            continue;  // a section of a later version's
        SavedProfile& p = state.profiles[*kind];
        if (slash == std::string::npos) {
            if (auto it = entries.find("function"); it != entries.end())
                p.function = it->second;
            take(reader.code(entries, "input_domain"), p.input_domain);
            take(reader.code(entries, "analogue_source"), p.analogue_source);
            take(reader.code(entries, "digital_source"), p.digital_source);
            take(reader.real(entries, "self_reference_a"), p.self_reference[0]);
            take(reader.real(entries, "self_reference_b"), p.self_reference[1]);
            take(reader.real(entries, "generator_frequency_hz"), p.generator_frequency_hz);
            take(reader.real(entries, "generator_level_v"), p.generator_level_v);
            take(reader.flag(entries, "generator_on"), p.generator_on);
            continue;
        }
        const std::optional<std::string> function =
            unescaped(std::string_view(raw_name).substr(slash + 1));
        if (!function) {
            reader.fail("[" + raw_name + "]: the function's name is badly escaped");
            break;
        }
        FunctionSettings f;
        const std::optional<std::int16_t> unit = reader.code(entries, "unit");
        const std::optional<std::int16_t> weighting = reader.code(entries, "weighting");
        const std::optional<std::int16_t> response = reader.code(entries, "response");
        const std::optional<std::int16_t> relativity = reader.code(entries, "relativity");
        if (!reader.failed() && !(unit && weighting && response && relativity)) {
            reader.fail("[" + raw_name +
                        "]: a function needs its unit, weighting, response and "
                        "relativity");
            break;
        }
        if (reader.failed())
            break;
        f.unit = *unit;
        f.last_level_unit = *unit;
        take(reader.code(entries, "last_level_unit"), f.last_level_unit);
        f.weighting = *weighting;
        f.response = *response;
        f.relativity = *relativity;
        p.functions[*function] = f;
    }
    if (reader.failed())
        return std::nullopt;
    return state;
}

}  // namespace vantel::instrument
