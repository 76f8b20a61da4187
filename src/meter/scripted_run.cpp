// SPDX-License-Identifier: MIT
#include "meter/scripted_run.h"

#include <charconv>
#include <cmath>

#include "automation/conversions.h"

namespace vantel {

namespace {

constexpr char kStatusObject[] = "SignalAnalyzer";
constexpr char kStatusMember[] = "SA_Status";
constexpr char kSettlingConstant[] = "STATUS_SETTLING";

// A decimal number, "." as the mark, nothing else around it; an empty text is no bound.
bool parse_bound(std::string_view text, std::optional<double>& bound) {
    if (text.empty())
        return true;
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return false;
    bound = value;
    return true;
}

}  // namespace

std::optional<Limits> parse_limits(std::string_view text, std::string& error) {
    const std::size_t colon = text.find(':');
    Limits limits;
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos ||
        !parse_bound(text.substr(0, colon), limits.low) ||
        !parse_bound(text.substr(colon + 1), limits.high)) {
        error = "--limits takes LOW:HIGH, two numbers of which either may be left out, not \"" +
                std::string(text) + "\"";
        return std::nullopt;
    }
    if (limits.low && limits.high && *limits.low > *limits.high) {
        error = "--limits " + std::string(text) + ": the low limit is above the high one";
        return std::nullopt;
    }
    return limits;
}

bool within(const Limits& limits, const MeterReading& reading) {
    if (!reading.raw_reading)
        return false;
    const double value = *reading.raw_reading;
    return (!limits.low || value >= *limits.low) && (!limits.high || value <= *limits.high);
}

std::string shown_reading(const MeterReading& reading) {
    if (!reading.raw_reading || reading.unit_word.empty())
        return reading.main_reading;
    return reading.main_reading + ' ' + reading.unit_word;
}

ScriptedRun::ScriptedRun(Meter& meter, RunPlan plan, QObject* parent)
    : QObject(parent),
      meter_(meter),
      plan_(std::move(plan)),
      settling_(plan_.settle_s.has_value()) {
    connect(&meter_, &Meter::published, this, &ScriptedRun::on_published);
    connect(&meter_, &Meter::closed, this, [this] { analyser_.reset(); });
}

void ScriptedRun::attach(const ObjectRef& analyser) {
    if (!settling_)
        return;
    analyser_ = analyser;
    // Only our analyser reports its state this way; any other is taken as never settling.
    try {
        get_member(*analyser_, kStatusObject, kStatusMember);
        analyser_->get(kSettlingConstant);
        status_offered_ = true;
    } catch (const AutomationError&) {
        status_offered_ = false;
    }
}

bool ScriptedRun::analyser_settling() {
    if (!status_offered_ || !analyser_)
        return false;
    const std::string member = std::string(kStatusObject) + '.' + kStatusMember;
    const std::int32_t status =
        to_int32(get_member(*analyser_, kStatusObject, kStatusMember), member);
    // By name, as the panel reads every constant: the analyser owns the number.
    const std::int32_t settling = to_int32(analyser_->get(kSettlingConstant), kSettlingConstant);
    return (status & settling) != 0;
}

void ScriptedRun::on_published(const MeterReading& reading) {
    if (meter_.ended() || (reading.occasion != MeterReading::Occasion::Cycle &&
                           reading.occasion != MeterReading::Occasion::HeldTick))
        return;
    if (plan_.duration_s && reading.seconds >= *plan_.duration_s)
        return meter_.close();
    if (settling_) {
        if (reading.seconds < *plan_.settle_s)
            return;
        try {
            if (analyser_settling())
                return;
        } catch (const AutomationError& e) {
            return meter_.fail(e);
        }
        settling_ = false;
        analyser_.reset();  // no more questions for it
    }
    std::optional<bool> passed;
    if (plan_.limits) {
        passed = within(*plan_.limits, reading);
        failed_ += !*passed;
    }
    ++logged_;
    Q_EMIT logged(reading, passed);
    if (plan_.count && logged_ >= *plan_.count)
        meter_.close();
}

int ScriptedRun::exit_code() const {
    if (plan_.limits && (failed_ > 0 || logged_ == 0))
        return kExitLimitFailed;
    return kExitClosed;
}

}  // namespace vantel
