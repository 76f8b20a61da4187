// SPDX-License-Identifier: MIT
#include "trend/trend_series.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace vantel {

namespace {

TrendKey key_of(const MeterReading& r) {
    return {r.function_name,  r.channel,       r.raw_unit_word,   r.unit_code, r.unit_class,
            r.weighting_word, r.response_word, r.relativity_word, r.input,     r.source_name};
}

bool has_flag(std::string_view words, std::string_view flag) {
    // The analyser's flags by name, separated by spaces ("NO_INPUT SETTLING").
    while (!words.empty()) {
        const std::size_t space = words.find(' ');
        if (words.substr(0, space) == flag)
            return true;
        if (space == std::string_view::npos)
            break;
        words.remove_prefix(space + 1);
    }
    return false;
}

TrendGap gap_of(const MeterReading& r) {
    if (r.occasion == MeterReading::Occasion::HeldTick || r.held)
        return TrendGap::Held;
    if (r.input_lost)
        return TrendGap::NoInput;
    if (!r.raw_reading)
        return TrendGap::Over;
    if (has_flag(r.status_words, "DROPOUT"))
        return TrendGap::Dropout;
    if (has_flag(r.status_words, "INVALID_SAMPLES"))
        return TrendGap::InvalidSamples;
    return TrendGap::None;
}

}  // namespace

bool TrendSeries::add(const MeterReading& reading) {
    if (reading.occasion != MeterReading::Occasion::Cycle &&
        reading.occasion != MeterReading::Occasion::HeldTick)
        return false;  // start-up and keys change what is shown between ticks, not a reading
    now_s_ = reading.seconds;
    now_wall_ = wall_clock();
    TrendKey key = key_of(reading);
    if (traces_.empty() || traces_.back().key != key)
        traces_.push_back({std::move(key), {}, {}});
    TrendTrace& trace = traces_.back();
    trace.points.push_back({reading.seconds,
                            reading.raw_reading.value_or(std::numeric_limits<double>::quiet_NaN()),
                            now_wall_, gap_of(reading), has_flag(reading.status_words, "OVERLOAD"),
                            reading.input_lost});
    trace.rows.push_back({reading.main_reading, reading.unit_word,
                          with_unit(reading.minimum, reading.minimum_unit),
                          with_unit(reading.maximum, reading.maximum_unit), reading.status_words});
    // A microsecond's grace: the tick an hour ago is kept, whatever the sum of 0.2 s steps.
    forget_before(now_s_ - kHistory_s - 1e-6);
    return true;
}

void TrendSeries::clear() {
    traces_.clear();
}

std::chrono::system_clock::time_point TrendSeries::wall_at(double seconds) const {
    return now_wall_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                           std::chrono::duration<double>(seconds - now_s_));
}

void TrendSeries::forget_before(double seconds) {
    while (!traces_.empty()) {
        TrendTrace& first = traces_.front();
        while (!first.points.empty() && first.points.front().seconds < seconds) {
            first.points.pop_front();
            first.rows.pop_front();
        }
        if (!first.points.empty())
            return;
        traces_.pop_front();
    }
}

MeterReading TrendSeries::reading_of(const TrendTrace& trace, std::size_t point) {
    const TrendPoint& p = trace.points[point];
    const TrendRowTexts& texts = trace.rows[point];
    MeterReading r;
    r.occasion =
        p.gap == TrendGap::Held ? MeterReading::Occasion::HeldTick : MeterReading::Occasion::Cycle;
    r.seconds = p.seconds;
    r.function_name = trace.key.function_name;
    r.channel = trace.key.channel;
    r.raw_unit_word = trace.key.unit_word;
    r.unit_code = trace.key.unit_code;
    r.unit_class = trace.key.unit_class;
    r.weighting_word = trace.key.weighting_word;
    r.response_word = trace.key.response_word;
    r.relativity_word = trace.key.relativity_word;
    r.input = trace.key.input;
    r.source_name = trace.key.source_name;
    if (!std::isnan(p.raw))
        r.raw_reading = p.raw;
    r.input_lost = p.input_lost;
    r.held = p.gap == TrendGap::Held;
    r.main_reading = texts.main_reading;
    r.unit_word = texts.unit_word;
    r.minimum = texts.minimum;
    r.minimum_unit.clear();
    r.maximum = texts.maximum;
    r.maximum_unit.clear();
    r.status_words = texts.status_words;
    return r;
}

}  // namespace vantel
