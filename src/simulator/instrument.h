// SPDX-License-Identifier: MIT
#pragma once

// The simulated analyser as plain C++: its settings, the rules by which it takes or refuses a
// change, its clock and its readings. A refused change throws AutomationError with the reason
// only (the automation layer adds the member's path) and leaves every setting as it was.

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "analyser/automation.h"
#include "simulator/signal_model.h"

namespace vantel::sim {

class Instrument {
public:
    // `clock` gives monotonic seconds; an empty one means std::chrono::steady_clock.
    Instrument(std::uint64_t seed, std::function<double()> clock, double initialise_after_s);

    // The analyser reports itself ready once `initialise_after_s` has passed since switch-on.
    bool initialised() const;

    const AnalyserSettings& settings() const { return settings_; }
    SignalSettings& signal() { return model_.settings; }

    void set_function(std::string_view name);
    // Relative units while the relativity is relative, absolute ones that suit the function
    // while it is absolute; anything else is refused.
    void set_unit(std::int16_t code);
    void set_weighting(std::int16_t code);
    void set_response(std::int16_t code);
    // Moves the unit along: a relative setting brings the relative dB unit, a return to
    // absolute brings back the absolute unit used last. Self-relative takes its reference now.
    void set_relativity(std::int16_t code);
    void set_input_domain(std::int16_t code);
    void set_analogue_source(std::int16_t code);
    void set_digital_source(std::int16_t code);
    // The option changes nothing in the simulation. It keeps any value exactly as written, so
    // that a test sees whether the panel puts back precisely what it found.
    const Value& settling_option() const { return settling_option_; }
    void set_settling_option(Value v) { settling_option_ = std::move(v); }

    // The analyser's own configuration, which no automation member writes; any code is taken,
    // so that tests can offer the panel one it does not know. Throws std::invalid_argument
    // for a connector that does not exist.
    void set_default_weighting(std::int16_t code) { settings_.default_weighting = code; }
    void set_frame_rate(std::int16_t connector, std::int32_t hz);

    // One reading of the channel now, in the detector's unit.
    double reading(Channel ch);

private:
    double now_s() const;  // since switch-on
    std::int16_t absolute_unit() const;
    void take_self_reference();

    Rng rng_;
    SignalModel model_;
    AnalyserSettings settings_;
    Value settling_option_ = Value(AutoBool::True);
    std::function<double()> clock_;
    double switched_on_s_;
    double initialise_after_s_;
};

}  // namespace vantel::sim
