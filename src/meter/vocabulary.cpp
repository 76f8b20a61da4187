// SPDX-License-Identifier: MIT
#include "meter/vocabulary.h"

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace vantel {

namespace {

struct Entry {
    std::string_view constant;
    std::string_view word;
};

// The order of each table is the order of the comparisons, which decides between members that
// share a value and how many constants one lookup reads.
constexpr std::array<Entry, 33> unit_words{{
    {"UNIT_NULL", "Null"},
    {"UNIT_SECONDS", "s"},
    {"UNIT_MS", "ms"},
    {"UNIT_FREQ_HZ", "Hz"},
    {"UNIT_FREQ_OFFSET", "Hz o/s"},
    {"UNIT_FREQ_RATIO", "Hz ratio"},
    {"UNIT_DBFS", "dBFS"},
    {"UNIT_FS", "%FS"},
    {"UNIT_FFS", "FFS"},
    {"UNIT_HEX", "Hex"},
    {"UNIT_VRMS", "V RMS"},
    {"UNIT_VP", "V peak"},
    {"UNIT_VPP", "V p-p"},
    {"UNIT_DBU", "dBu"},
    {"UNIT_DBV", "dBV"},
    {"UNIT_DBM", "dBm"},
    {"UNIT_W", "W"},
    {"UNIT_DBR", "dBr"},
    {"UNIT_PERCENTREF", "% ref"},
    {"UNIT_RELATIVE_DB", "dB"},
    {"UNIT_RELATIVE_PERCENT", "%"},
    {"UNIT_JITTER_UI", "UI"},
    {"UNIT_JITTER_NS", "ns"},
    {"UNIT_PHASE_UI", "UI"},
    {"UNIT_PHASE_PERCENT", "%"},
    {"UNIT_PHASE_SAMPLES", "samples"},
    {"UNIT_PHASE_DEGREES", "deg"},
    {"UNIT_PHASE_RADIANS", "rad"},
    {"UNIT_PHASE_US", "\u00B5s"},  // MICRO SIGN, not the Greek mu U+03BC
    {"UNIT_DUTYCYCLE_PERCENT", "%"},
    {"UNIT_DUTYCYCLE_SAMPLES", "samples"},
    {"UNIT_V", "V"},
    {"UNIT_PPM", "PPM"},
}};

constexpr std::array<Entry, 5> weighting_words{{
    {"CTD_WEIGHTING_NONE", "unweighted"},
    {"CTD_WEIGHTING_AWEIGHTING", "A weighted"},
    {"CTD_WEIGHTING_CCIR468_1K", "CCIR468 1k"},
    {"CTD_WEIGHTING_CCIR468_2K", "CCIR468 2k"},
    {"CTD_WEIGHTING_DEFAULT", "default"},
}};

constexpr std::array<Entry, 4> response_words{{
    {"CTD_RESPONSE_RMS", "RMS"},
    {"CTD_RESPONSE_PEAK", "Peak"},
    {"CTD_RESPONSE_PEAKSAMPLE", "Pk Sample"},
    {"CTD_RESPONSE_QPEAK", "Q-Peak"},
}};

constexpr std::array<Entry, 4> relativity_words{{
    {"CTD_RELATIVITY_ABS", "absolute"},
    {"CTD_RELATIVITY_SELF", "self rel."},
    {"CTD_RELATIVITY_GEN", "gen. rel."},
    {"CTD_RELATIVITY_CHANNEL", "ch. rel."},
}};

constexpr std::array<Entry, 6> analogue_input_words{{
    {"AI_SOURCE_BAL_UNBAL", "XLR / BNC"},
    {"AI_SOURCE_JITTERDEMOD_FS", "Jitter Demod"},
    {"AI_SOURCE_JITTERDEMOD_DATA", "Jitter Demod"},
    {"AI_SOURCE_GENOUTPUT", "Generator"},
    {"AI_SOURCE_CHA", "A (Gen A on B)"},
    {"AI_SOURCE_CHB", "B (Gen B on A)"},
}};

constexpr std::array<Entry, 5> digital_input_words{{
    {"DI_SOURCE_XLR", "XLR"},
    {"DI_SOURCE_BNC", "BNC"},
    {"DI_SOURCE_TOSLINK", "TOSLINK"},
    {"DI_SOURCE_GENXLR", "Generator XLR"},
    {"DI_SOURCE_GENBNC", "Generator BNC"},
}};

std::optional<std::string_view> find_word(std::span<const Entry> table, std::int16_t code,
                                          const ConstantReader& constant) {
    for (const Entry& entry : table) {
        if (constant(entry.constant) == static_cast<double>(code))
            return entry.word;
    }
    return std::nullopt;
}

// Most vocabularies hand an unknown code back as its number, so a member added to the analyser
// later still shows something the user can look up.
std::string word_or_code(std::span<const Entry> table, std::int16_t code,
                         const ConstantReader& constant) {
    if (auto word = find_word(table, code, constant))
        return std::string(*word);
    return std::to_string(code);
}

}  // namespace

std::string interpret_units(std::int16_t unit, const ConstantReader& constant) {
    // The detector's own "no unit" marker; it is not a published member.
    if (unit == -1)
        return "Invalid";
    return word_or_code(unit_words, unit, constant);
}

std::string interpret_weighting(std::int16_t code, const ConstantReader& constant) {
    return word_or_code(weighting_words, code, constant);
}

std::string interpret_response(std::int16_t code, const ConstantReader& constant) {
    return word_or_code(response_words, code, constant);
}

std::string interpret_relativity(std::int16_t code, const ConstantReader& constant) {
    return word_or_code(relativity_words, code, constant);
}

std::string interpret_analogue_input(std::int16_t code, const ConstantReader& constant) {
    if (auto word = find_word(analogue_input_words, code, constant))
        return std::string(*word);
    return "Unknown input";
}

std::string interpret_digital_input(std::int16_t code, const ConstantReader& constant) {
    return word_or_code(digital_input_words, code, constant);
}

namespace {

struct StatusFlag {
    std::string_view constant;
    std::string_view word;
    std::string_view annunciator;
};

// Most serious first: no reading at all; samples that are not numbers; a clipped input; samples
// lost; a window not yet refilled; volts to an uncalibrated scale, which a live input may show
// for a whole run and so must not hide the others.
constexpr std::array<StatusFlag, 6> status_flags{{
    {"STATUS_NO_INPUT", "NO_INPUT", "NO INPUT"},
    {"STATUS_INVALID_SAMPLES", "INVALID_SAMPLES", "NaN"},
    {"STATUS_OVERLOAD", "OVERLOAD", "OVLD"},
    {"STATUS_DROPOUT", "DROPOUT", "DROP"},
    {"STATUS_SETTLING", "SETTLING", "SETTLE"},
    {"STATUS_UNCALIBRATED", "UNCALIBRATED", "UNCAL"},
}};

}  // namespace

StatusText interpret_status(std::int32_t flags, const ConstantReader& constant) {
    StatusText text;
    std::int64_t unnamed = flags;
    for (const StatusFlag& flag : status_flags) {
        if (unnamed == 0)
            break;
        const auto bit = static_cast<std::int64_t>(constant(flag.constant));
        if (bit == 0 || (unnamed & bit) != bit)
            continue;
        unnamed &= ~bit;
        if (text.annunciator.empty())
            text.annunciator = flag.annunciator;
        if (!text.words.empty())
            text.words += ' ';
        text.words += flag.word;
        text.no_input = text.no_input || flag.constant == "STATUS_NO_INPUT";
    }
    if (unnamed != 0) {
        if (!text.words.empty())
            text.words += ' ';
        text.words += std::to_string(unnamed);
    }
    return text;
}

}  // namespace vantel
