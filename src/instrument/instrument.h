// SPDX-License-Identifier: MIT
#pragma once

// Our analyser as plain C++: its settings, the rules by which it takes or refuses a
// change, its clock and its readings. A refused change throws AutomationError with the reason
// only (the automation layer adds the member's path) and leaves every setting as it was.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/automation.h"
#include "instrument/measurement.h"
#include "instrument/saved_state.h"
#include "instrument/settings.h"

namespace vantel::instrument {

class Instrument {
public:
    // `clock` gives monotonic seconds; an empty one means std::chrono::steady_clock. The
    // instrument measures `source`, which `generator` drives if it is a simulated one, and
    // starts from the defaults for that kind of source. `calibration_v`, when given, is both
    // analogue channels' full scale for this run.
    Instrument(std::function<double()> clock, double initialise_after_s,
               std::unique_ptr<source::SampleSource> source,
               std::shared_ptr<source::Generator> generator, std::uint64_t seed,
               std::optional<double> calibration_v);

    // The analyser reports itself ready once `initialise_after_s` has passed since switch-on.
    bool initialised() const;

    const AnalyserSettings& settings() const { return settings_; }
    SourceKind source_kind() const { return measurement_.source_kind(); }
    // What is being measured, in a word or two for a window's title: "simulated", "JACK".
    const std::string& source_name() const { return source_name_; }
    void set_source_name(std::string name) { source_name_ = std::move(name); }
    Measurement& measurement() { return measurement_; }

    // The generator. Each refuses a value out of range (AutomationError with the reason) and
    // keeps its setting: a frequency must lie below half the rate it plays at.
    double generator_frequency_hz() const;
    double generator_level_v() const;
    bool generator_on() const;
    void set_generator_frequency(double hz);
    void set_generator_level(double v_rms);
    void set_generator_on(bool on);

    // Brings back the detector's settings the function had when it was last left.
    void set_function(std::string_view name);
    // Relative units while the relativity is relative, absolute ones that suit the function
    // while it is absolute (and, for a function that is a ratio by nature, its ratio in dB or
    // %); anything else is refused.
    void set_unit(std::int16_t code);
    // A function whose name implies a weighting ("Noise (A-weighted)") refuses any other.
    void set_weighting(std::int16_t code);
    void set_response(std::int16_t code);
    // Moves the unit along: a relative setting brings the relative dB unit, a return to
    // absolute brings back the absolute unit used last. Self-relative takes its reference now.
    void set_relativity(std::int16_t code);
    void set_input_domain(std::int16_t code);
    void set_analogue_source(std::int16_t code);
    void set_digital_source(std::int16_t code);
    // An analogue channel's calibration, the volts RMS of a full-scale sine; refused unless
    // finite and above 0. One for this run only (--full-scale) is never kept.
    void set_full_scale(Channel ch, double v_rms, bool for_this_run_only = false);

    // What this kind of source keeps between runs, and the calibration this source keeps.
    SavedProfile profile() const;
    SavedCalibration calibration_to_keep() const;
    // Takes what profile() and calibration_to_keep() gave in an earlier run, all of it or, when
    // the analyser refuses any of it, nothing (AutomationError with the reason). A calibration
    // given for this run stands. Returns what is worth a line in the log: a saved generator
    // frequency this source's rate cannot play is left out.
    std::vector<std::string> restore(
        const SavedProfile& profile,
        const SavedCalibration& calibration);  // The option changes nothing in our measurement. It
                                               // keeps any value exactly as written, so
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
    // The STATUS_ flags of the latest reading's channel (A before any), 0 when all is well.
    std::int32_t status();
    // The digital input's frame rate in Hz; 0 while it has no lock.
    std::int32_t frame_rate_hz() const;

private:
    double now_s() const;  // since switch-on
    std::int16_t absolute_unit() const;
    void take_self_reference();

    AnalyserSettings settings_;
    Value settling_option_ = Value(AutoBool::True);
    std::function<double()> clock_;
    double switched_on_s_;
    double initialise_after_s_;
    Measurement measurement_;
    Channel last_read_ = Channel::A;
    std::array<bool, 2> calibration_for_this_run_{false, false};
    std::string source_name_;
};

}  // namespace vantel::instrument
