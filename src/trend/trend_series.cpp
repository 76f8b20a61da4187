// SPDX-License-Identifier: MIT
#include "trend/trend_series.h"

#include <algorithm>

namespace vantel {

bool TrendSeries::add(const MeterReading& reading) {
    if (reading.occasion != MeterReading::Occasion::Cycle)
        return false;  // held ticks repeat a frozen display; keys change no reading
    now_s_ = reading.seconds;
    if (traces_.empty() || traces_.back().unit_word != reading.raw_unit_word ||
        traces_.back().function_name != reading.function_name ||
        traces_.back().channel != reading.channel) {
        traces_.push_back(
            {reading.raw_unit_word, reading.function_name, reading.channel, reading.seconds, {}});
    }
    if (reading.raw_reading) {
        traces_.back().points.push_back({reading.seconds, *reading.raw_reading, gap_});
        gap_ = false;
    } else if (reading.input_lost) {
        gap_ = true;
    }
    forget_before(now_s_ - kSpan_s);
    return true;
}

void TrendSeries::forget_before(double seconds) {
    // A trace is dropped once a later one has started before the window.
    while (traces_.size() > 1 && traces_[1].start_s <= seconds)
        traces_.pop_front();
    std::deque<TrendPoint>& first = traces_.front().points;
    const auto kept = std::find_if(first.begin(), first.end(),
                                   [seconds](const TrendPoint& p) { return p.seconds >= seconds; });
    first.erase(first.begin(), kept);
}

}  // namespace vantel
