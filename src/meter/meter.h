// SPDX-License-Identifier: MIT
#pragma once

// The meter: the whole behaviour of the bench multimeter, with no widgets. How data flows:
//
//   timer (50 ms) -> tick -> every 4th tick (200 ms): an update cycle, or while held the blink
//   update cycle -> status poll (analyser reads, every cycle from the third)
//                -> status words and function lamp (status/vocabulary.h, status/functions.h)
//                -> channel read -> format_reading (pipeline/reading_format.h)
//                -> minimum and maximum -> published MeterReading
//   keys (called by the panel) -> analyser writes, placeholders -> published MeterReading;
//                                 the next cycles read the change back
//   published MeterReading -> the panel's labels and lamps, the recorder's rows, the trend
//
// Everything outside (analyser, clock, waits, message boxes, standard error, the program's end)
// comes through Environment, so tests drive the meter without a window.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "meter/constant_reader.h"
#include "meter/environment.h"
#include "meter/meter_reading.h"

namespace vantel {

class Meter final : public QObject {
    Q_OBJECT

public:
    explicit Meter(Environment environment, QObject* parent = nullptr);
    ~Meter() override;

    // Start-up: attach, wait up to 20 s for the analyser to be ready, run the two start-up
    // cycles, start the timer and switch the analyser's script settling option off (keeping its
    // value for close). Throws AutomationError when the analyser cannot be obtained or asked
    // whether it is ready. A time-out or a failing first cycle ends the meter.
    void start();
    // The one shut-down path: stop the timer, put the option back (only if it was read), let go
    // of the analyser, end the program with the exit code. Later calls do nothing.
    void close();
    // The analyser failed in a way the meter cannot go on from: says why on standard error and
    // closes with exit code 3. What the update cycle does with its own failures.
    void fail(const AutomationError& error);
    bool ended() const { return ended_; }
    int exit_code() const { return exit_code_; }
    bool running() const { return timer_.isActive(); }
    // For tests and benchmarks that call tick() themselves.
    void stop_timer() { timer_.stop(); }

    // One 50 ms timer tick; the timer calls it, and tests call it.
    void tick();

    // What the keys, legends and knob do (the panel calls these on a release inside).
    void toggle_channel();
    void toggle_domain();
    void step_input();
    void step_unit();
    void step_weighting();
    void step_response();
    void step_relativity();
    void reset_min_max();
    void toggle_hold();
    void select_function(std::string_view name);
    void step_knob_left();
    void step_knob_right();
    // Sets the selected channel's analogue calibration so that its present reading reads
    // `true_rms_v`, the volts a calibrator or a trusted meter gives for the signal. Only a
    // steady Amplitude reading in V, unweighted and absolute, on an analogue input will do;
    // otherwise, or when the analyser refuses, a message says why and nothing changes. True when
    // the calibration was set.
    bool calibrate(double true_rms_v);

    // The last published reading.
    const MeterReading& reading() const { return shown_; }

Q_SIGNALS:
    // After the start-up, every work tick and every key that changes what is shown.
    void published(const vantel::MeterReading& reading);
    // close() has run.
    void closed();

private:
    // A detector setting as the panel shows it, and as the last poll read it (or a key asked).
    struct Setting {
        std::int16_t shown = 0;
        std::int16_t polled = 0;
    };

    void update_cycle();
    // Asks once, at start-up, for the members a newer analyser offers: one that lacks them is
    // never asked again.
    void probe_optional_members(AutomationObject& app);
    void read_reading_status(AutomationObject& app);
    // Why a calibration cannot be made now; empty when it can.
    std::string calibration_refusal(AutomationObject& app);
    void poll_status(AutomationObject& app);
    void renew_status();
    void update_min_max();
    void restart_min_max();
    void show_min_max_from_reading();
    void show_response_word();
    void show_relativity_word();
    void show_weighting_word();
    ConstantReader constant_reader() const;
    // Writes a detector setting for a key; if the analyser refuses it, `show_word` puts back the
    // word of the setting still in force in place of the key's placeholder.
    void write_detector_setting(const char* member, std::int16_t code, void (Meter::*show_word)());
    void publish(MeterReading::Occasion occasion);

    Environment env_;
    QTimer timer_;
    ObjectRef analyser_;
    double start_time_s_ = 0.0;  // monotonic, so that a wait across midnight still times out
    // OPT_UseSettlingsFromScripts as read at start-up; nothing when that read failed or never
    // happened, and then nothing is written back.
    std::optional<Value> saved_settling_option_;

    double reading_ = 0.0;  // raw value of the selected channel, in the detector's unit
    double min_reading_ = 0.0;
    double max_reading_ = 0.0;
    bool min_max_reset_due_ = false;
    // The main reading is not a usable number: minimum and maximum pass it by.
    bool reading_unusable_ = false;
    std::string channel_;  // "A" or "B"
    bool hold_ = false;
    std::int16_t tick_count_ = 0;   // timer ticks since the last work tick, 0 to 3
    std::int16_t cycle_count_ = 0;  // update cycles so far (saturating); while held, blink ticks

    Setting unit_, weighting_, response_, relativity_, default_weighting_;
    std::int16_t input_domain_ = 0;  // 0 analogue, 1 digital
    std::int16_t analogue_input_ = 0;
    std::int16_t digital_input_ = 0;
    std::int32_t frame_rate_hz_ = 0;  // 0 while the digital input is not locked
    // SignalAnalyzer.SA_Status and SA_SourceName, where the analyser offers them.
    bool offers_status_ = false;
    bool offers_source_name_ = false;

    MeterReading shown_;
    // A cycle is running; a modal message inside it lets the timer tick, and such a tick must
    // not start a second cycle inside the first.
    bool in_cycle_ = false;
    bool ended_ = false;
    int exit_code_ = kExitClosed;
};

}  // namespace vantel
