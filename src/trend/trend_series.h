// SPDX-License-Identifier: MIT
#pragma once

// The readings of the last ten minutes for the trend, as traces: a trace holds the readings of
// one unit, function and channel; a change of any of them starts the next trace (and the chart
// marks the change). Held ticks, over-range readings and readings of a lost input add no point,
// and a lost input breaks the line.

#include <deque>
#include <string>

#include "meter/meter_reading.h"

namespace vantel {

struct TrendPoint {
    double seconds;          // the meter's clock since its start
    double value;            // in the trace's unit
    bool after_gap = false;  // the input was lost before it: the line breaks there
};

struct TrendTrace {
    std::string unit_word;  // without a range prefix: the unit of `value`
    std::string function_name;
    std::string channel;
    double start_s = 0.0;  // the first reading of this trace, plotted or not
    std::deque<TrendPoint> points;
};

class TrendSeries {
public:
    static constexpr double kSpan_s = 600.0;

    // Takes the reading of one update cycle; other occasions are ignored. True when what the
    // chart shows changed.
    bool add(const MeterReading& reading);
    const std::deque<TrendTrace>& traces() const { return traces_; }
    // The latest reading's time: the right edge of the chart.
    double now_s() const { return now_s_; }

private:
    void forget_before(double seconds);

    std::deque<TrendTrace> traces_;
    double now_s_ = 0.0;
    bool gap_ = false;  // the input was lost since the last point
};

}  // namespace vantel
