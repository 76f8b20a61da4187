// SPDX-License-Identifier: MIT
#pragma once

// The trend's memory: the last hour of the meter's work ticks, one point per tick (every
// 200 ms, 18,000 in an hour), in traces. A trace holds the readings of one measurement: the same
// function, channel, unit, weighting, response, relativity, input and source; a change of any of
// them starts the next trace, so a trace's title is true for all of its points. A tick whose
// reading is not a reading (the input lost, samples dropped or not numbers, the display held or
// over range) is kept as a gap: the chart breaks its line there and the CSV export still lists
// the tick, as the log does.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "meter/meter_reading.h"

namespace vantel {

// What a trace measures: the same for every point of it.
struct TrendKey {
    std::string function_name;
    std::string channel;
    std::string unit_word;  // the raw readings' unit, without a range prefix
    std::int16_t unit_code = 0;
    UnitClass unit_class = UnitClass::Plain;
    std::string weighting_word;
    std::string response_word;
    std::string relativity_word;
    std::string input;
    std::string source_name;

    // The same unit: values of both share a value axis.
    bool same_unit(const TrendKey& other) const {
        return unit_word == other.unit_word && unit_code == other.unit_code;
    }
    bool operator==(const TrendKey&) const = default;
};

// Why a tick's reading is not plotted.
enum class TrendGap : std::uint8_t {
    None,            // a reading: plotted
    NoInput,         // the analyser's input is lost: its number is no reading
    Dropout,         // samples were lost in the reading's 200 ms
    InvalidSamples,  // samples that were not numbers went into it
    Held,            // the hold key froze the display
    Over,            // the display shows over-range
};

// One tick, as the chart needs it: small, so that a repaint walks an hour of them quickly.
struct TrendPoint {
    double seconds;  // the meter's clock since its start
    double raw;      // the raw reading in the trace's unit; NaN when there is none
    std::chrono::system_clock::time_point wall;  // when it came, for the CSV export
    TrendGap gap = TrendGap::None;
    bool overload = false;    // a sample at or over full scale: plotted, and marked
    bool input_lost = false;  // also while held: the log's row says so
    bool plotted() const { return gap == TrendGap::None; }
};

// The rest of a tick's log row, kept beside its point for the CSV export.
struct TrendRowTexts {
    std::string main_reading;
    std::string unit_word;  // with its range prefix
    std::string minimum;    // with its unit, as the log writes it
    std::string maximum;
    std::string status_words;
};

struct TrendTrace {
    TrendKey key;
    std::deque<TrendPoint> points;   // in time order
    std::deque<TrendRowTexts> rows;  // one for each point
    double start_s() const { return points.front().seconds; }
    double end_s() const { return points.back().seconds; }
};

class TrendSeries {
public:
    static constexpr double kHistory_s = 3600.0;

    // Where the points' wall-clock time comes from; tests set a fixed one.
    std::function<std::chrono::system_clock::time_point()> wall_clock =
        std::chrono::system_clock::now;

    // Takes the reading of one work tick (an update cycle or a held tick); other occasions are
    // ignored. True when it was kept.
    bool add(const MeterReading& reading);
    // Forgets everything.
    void clear();

    // Oldest first; never holds an empty trace.
    const std::deque<TrendTrace>& traces() const { return traces_; }
    bool empty() const { return traces_.empty(); }
    // The latest tick's time on the meter's clock, and its wall-clock time.
    double now_s() const { return now_s_; }
    // The wall-clock time of a moment on the meter's clock, as of the latest tick.
    std::chrono::system_clock::time_point wall_at(double seconds) const;

    // The tick as the meter published it (as far as the log's row goes), for the CSV export.
    static MeterReading reading_of(const TrendTrace& trace, std::size_t point);

private:
    void forget_before(double seconds);

    std::deque<TrendTrace> traces_;
    double now_s_ = 0.0;
    std::chrono::system_clock::time_point now_wall_{};
};

}  // namespace vantel
