// SPDX-License-Identifier: MIT
#include "meter/meter.h"

#include <QScopeGuard>

#include <cmath>
#include <limits>

#include "automation/conversions.h"
#include "meter/functions.h"
#include "meter/reading_format.h"
#include "meter/vocabulary.h"

namespace vantel {

namespace {

// The analyser is given this long to report itself ready.
constexpr double kStartupTimeout_s = 20.0;
constexpr int kTimerPeriod_ms = 50;
constexpr std::int16_t kTicksPerWorkTick = 4;      // 4 x 50 ms: one cycle every 200 ms
constexpr std::int16_t kCyclesBeforePoll = 3;      // the two start-up cycles skip the poll
constexpr std::int16_t kWorkTicksPerBlink = 3;     // 600 ms on, 600 ms off while held
constexpr std::int16_t kDefaultWeightingCode = 5;  // the detector follows the default filter
constexpr double kHzPerKHz = 1000.0;
constexpr char kTitle[] = "Vantel DMM";

// A calibration needs a signal of at least this share of full scale (-60 dB).
constexpr double kLeastCalibrationShare = 1e-3;

// Placeholders shown while a setting changes.
constexpr char kUnitsPending[] = " - - ";
constexpr char kResponsePending[] = "- -";
constexpr char kMinMaxPending[] = " -- ";

// Whole numbers polled from the analyser; a value that does not fit fails like an access.
std::int16_t code_of(AutomationObject& app, const char* object, const char* member) {
    const Value value = get_member(app, object, member);
    try {
        return to_code(value);
    } catch (const AutomationError& e) {
        // The member's full name is spelt out only when there is something to report.
        throw AutomationError(std::string(object) + "." + member, e.reason());
    }
}

// Counts up without ever passing its range, so the status poll runs at every cycle however
// long the program runs.
void count_up(std::int16_t& counter) {
    if (counter < std::numeric_limits<std::int16_t>::max())
        ++counter;
}

// Key writes never stop the meter: if the analyser refuses, the next poll shows what it has.
// True when `write` went through.
template <typename Write>
bool ignoring_failures(Write write) {
    try {
        write();
        return true;
    } catch (const AutomationError&) {
        return false;
    }
}

bool write_code(const ObjectRef& app, const char* object, const char* member, std::int16_t code) {
    return app && ignoring_failures([&] { set_member(*app, object, member, Value(int{code})); });
}

// The absolute unit cycle: V, V peak, V p-p, dBu, dBV, dBm, W, dBFS and back to V.
std::int16_t next_absolute_unit(std::int16_t unit) {
    switch (unit) {
        case 20:
            return 21;
        case 21:
            return 22;
        case 22:
            return 23;
        case 23:
            return 66;
        case 66:
            return 30;
        case 30:
            return 31;
        case 31:
            return 32;
        default:
            return 20;
    }
}

}  // namespace

Meter::Meter(Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    // No period until the start-up sets one: the timer does not tick during the wait.
    connect(&timer_, &QTimer::timeout, this, &Meter::tick);
}

Meter::~Meter() = default;

void Meter::start() {
    analyser_ = env_.obtain_analyser();
    start_time_s_ = env_.clock();

    // Ask about every two seconds; the time-out test falls one second after each question.
    while (!initialisation_done(analyser_->get("IsInitialised"))) {
        env_.wait_seconds(1);
        if (ended_)
            return;  // closed meanwhile (a signal, or the window manager)
        if (env_.clock() - start_time_s_ > kStartupTimeout_s) {
            env_.show_message({Message::Icon::Warning, kTitle,
                               "The program has timed out waiting for the Vantel Application to "
                               "initialise and will now close.  "});
            // Nothing has been changed in the analyser yet, so nothing is restored.
            analyser_.reset();
            ended_ = true;
            exit_code_ = kExitAnalyserUnavailable;
            env_.end_program(exit_code_);
            return;
        }
        env_.wait_seconds(1);
        if (ended_)
            return;
    }

    if (env_.prepare_analyser) {
        try {
            env_.prepare_analyser(analyser_);
        } catch (const AutomationError& e) {
            env_.report(e.what());
            analyser_.reset();
            ended_ = true;
            exit_code_ = kExitAnalyserUnavailable;
            env_.end_program(exit_code_);
            return;
        }
    }

    probe_optional_members(*analyser_);
    channel_ = "A";
    min_reading_ = reading_;
    max_reading_ = reading_;
    update_cycle();
    if (ended_)
        return;  // the first cycle failed and closed the meter
    restart_min_max();
    show_min_max_from_reading();
    timer_.setInterval(kTimerPeriod_ms);
    timer_.start();

    // From here on a failing step is skipped and the next one runs. The option is switched off
    // only once its value is safely kept: a value that could not be read is never overwritten,
    // because nothing could put it back.
    try {
        saved_settling_option_ = get_member(*analyser_, "Options", "OPT_UseSettlingsFromScripts");
    } catch (const AutomationError&) {
    }
    if (saved_settling_option_) {
        try {
            set_member(*analyser_, "Options", "OPT_UseSettlingsFromScripts",
                       Value(AutoBool::False));
        } catch (const AutomationError&) {
        }
    }
    shown_.hold_mark = false;
    update_cycle();
    if (!ended_)
        publish(MeterReading::Occasion::StartUp);
}

void Meter::close() {
    if (ended_)
        return;
    ended_ = true;
    timer_.stop();
    // Put the option back only when it was read: otherwise the analyser keeps what it has.
    if (analyser_ && saved_settling_option_) {
        try {
            set_member(*analyser_, "Options", "OPT_UseSettlingsFromScripts",
                       *saved_settling_option_);
        } catch (const AutomationError&) {
        }
    }
    analyser_.reset();
    env_.end_program(exit_code_);
    Q_EMIT closed();
}

void Meter::tick() {
    if (in_cycle_ || ended_)
        return;
    ++tick_count_;
    if (tick_count_ < kTicksPerWorkTick)
        return;
    tick_count_ = 0;
    if (!hold_) {
        update_cycle();
        if (ended_)
            return;
        shown_.hold_mark = false;
        publish(MeterReading::Occasion::Cycle);
    } else {
        count_up(cycle_count_);
        if (cycle_count_ >= kWorkTicksPerBlink) {
            shown_.hold_mark = !shown_.hold_mark;
            cycle_count_ = 0;
        }
        publish(MeterReading::Occasion::HeldTick);
    }
}

void Meter::update_cycle() {
    AutomationObject& app = *analyser_;
    in_cycle_ = true;
    const auto done = qScopeGuard([this] { in_cycle_ = false; });
    try {
        count_up(cycle_count_);
        if (cycle_count_ >= kCyclesBeforePoll)
            poll_status(app);

        if (unit_.polled != unit_.shown || weighting_.polled != weighting_.shown ||
            relativity_.polled != relativity_.shown) {
            renew_status();
            min_max_reset_due_ = true;
        }
        if (response_.polled != response_.shown ||
            (weighting_.shown == kDefaultWeightingCode &&
             default_weighting_.polled != default_weighting_.shown)) {
            renew_status();
            min_max_reset_due_ = true;
        }

        if (channel_ == "A" || channel_ == "B") {
            const char* member = channel_ == "A" ? "CTD_ChA" : "CTD_ChB";
            Value value = get_member(app, "CTDetector", member);
            try {
                reading_ = to_double(value);
            } catch (const AutomationError&) {
                // Text or null where a number belongs: shown as over-range, not a reason to stop.
                reading_ = std::numeric_limits<double>::quiet_NaN();
            }
        } else {
            env_.show_message({Message::Icon::None, kTitle, "Channel error"});
        }

        StatusText status;
        if (offers_status_) {
            status = interpret_status(to_int32(get_member(app, "SignalAnalyzer", "SA_Status"),
                                               "SignalAnalyzer.SA_Status"),
                                      constant_reader());
        }
        shown_.annunciator = status.annunciator;
        shown_.status_words = status.words;
        shown_.input_lost = status.no_input;

        const UnitClass unit_class = classify_unit(unit_.shown, constant_reader());
        const std::string unit_word = interpret_units(unit_.shown, constant_reader());
        const DisplayText text = format_reading(reading_, unit_class, unit_word);
        shown_.main_reading = text.reading;
        shown_.unit_word = text.unit;
        // A lost input's number is no reading: the log, the trend and minimum and maximum must
        // not take it for a real zero.
        reading_unusable_ = status.no_input || !std::isfinite(reading_) ||
                            (unit_class == UnitClass::Hex && !hex_text(reading_));
        shown_.raw_reading = reading_unusable_ ? std::nullopt : std::optional<double>(reading_);
        shown_.unit_code = unit_.shown;
        shown_.raw_unit_word = unit_word;
        shown_.unit_class = unit_class;

        if (min_max_reset_due_) {
            restart_min_max();
            show_min_max_from_reading();
            min_max_reset_due_ = false;
        }
        update_min_max();
    } catch (const AutomationError& e) {
        fail(e);
    }
}

void Meter::fail(const AutomationError& error) {
    if (ended_)
        return;
    // The analyser has gone away or answers nonsense: the meter closes without a box, as the Off
    // key closes it, but a script and the user's terminal learn why.
    env_.report(std::string("the analyser failed, so the panel ends: ") + error.what());
    exit_code_ = kExitAnalyserFailed;
    close();
}

void Meter::probe_optional_members(AutomationObject& app) {
    try {
        to_int32(get_member(app, "SignalAnalyzer", "SA_Status"), "SignalAnalyzer.SA_Status");
        offers_status_ = true;
    } catch (const AutomationError&) {
    }
    try {
        shown_.source_name = to_text(get_member(app, "SignalAnalyzer", "SA_SourceName"),
                                     "SignalAnalyzer.SA_SourceName");
        offers_source_name_ = true;
    } catch (const AutomationError&) {
    }
}

void Meter::poll_status(AutomationObject& app) {
    try {
        unit_.polled = code_of(app, "CTDetector", "CTD_Unit");
    } catch (const AutomationError&) {
        // An analyser between units may refuse this one read; the old unit stands.
    }
    weighting_.polled = code_of(app, "CTDetector", "CTD_WeightingFilter");
    response_.polled = code_of(app, "CTDetector", "CTD_Response");
    relativity_.polled = code_of(app, "CTDetector", "CTD_Relativity");
    default_weighting_.polled = code_of(app, "SignalAnalyzer", "SA_DefaultWeightingFilter");

    shown_.function_name =
        to_text(get_member(app, "CTDetector", "CTD_Function"), "CTDetector.CTD_Function");
    shown_.lit_lamp = function_lamp(shown_.function_name);
    shown_.channel = channel_;

    input_domain_ = code_of(app, "SignalAnalyzer", "SA_Source");
    if (input_domain_ == 0) {
        analogue_input_ = code_of(app, "AnalogueInputs", "AI_Source");
        shown_.input = interpret_analogue_input(analogue_input_, constant_reader());
        shown_.domain = "Analogue";
        shown_.lock.clear();
    } else if (input_domain_ == 1) {
        digital_input_ = code_of(app, "DigitalInputs", "DI_Source");
        // Read a second time for the word: the word names what the analyser reports now, even if
        // the input changed between the two reads.
        shown_.input =
            interpret_digital_input(code_of(app, "DigitalInputs", "DI_Source"), constant_reader());
        shown_.domain = "Digital";
        frame_rate_hz_ = to_int32(get_member(app, "DigitalInputs", "DI_FrameRate"),
                                  "DigitalInputs.DI_FrameRate");
        shown_.lock = frame_rate_hz_ == 0
                          ? "Unlocked"
                          : "Locked: " + number_text(frame_rate_hz_ / kHzPerKHz) + "kHz";
    }
    if (offers_source_name_) {
        shown_.source_name = to_text(get_member(app, "SignalAnalyzer", "SA_SourceName"),
                                     "SignalAnalyzer.SA_SourceName");
    }
}

void Meter::renew_status() {
    // All shown values first, before anything is asked of the analyser.
    unit_.shown = unit_.polled;
    weighting_.shown = weighting_.polled;
    response_.shown = response_.polled;
    default_weighting_.shown = default_weighting_.polled;
    relativity_.shown = relativity_.polled;

    show_response_word();
    show_relativity_word();
    show_weighting_word();
}

void Meter::show_response_word() {
    shown_.response_word = interpret_response(response_.shown, constant_reader());
}

void Meter::show_relativity_word() {
    shown_.relativity_word = interpret_relativity(relativity_.shown, constant_reader());
}

void Meter::show_weighting_word() {
    // While the detector follows the default filter, name the filter that is the default.
    const double default_code = constant_reader()("CTD_WEIGHTING_DEFAULT");
    shown_.weighting_word = interpret_weighting(
        weighting_.shown == default_code ? default_weighting_.shown : weighting_.shown,
        constant_reader());
}

ConstantReader Meter::constant_reader() const {
    return [app = analyser_](std::string_view name) { return to_double(app->get(name), name); };
}

// Minimum and maximum since the last reset. Their texts are copies of the main reading and its
// unit as they stood when the extreme was set, so they keep the range and format of that moment.
void Meter::update_min_max() {
    if (reading_unusable_)
        return;  // an over-range mark is not a minimum or a maximum
    if (reading_ < min_reading_) {
        min_reading_ = reading_;
        shown_.minimum = shown_.main_reading;
        shown_.minimum_unit = shown_.unit_word;
    }
    if (reading_ > max_reading_) {
        max_reading_ = reading_;
        shown_.maximum = shown_.main_reading;
        shown_.maximum_unit = shown_.unit_word;
    }
}

void Meter::show_min_max_from_reading() {
    shown_.minimum = shown_.maximum = shown_.main_reading;
    shown_.minimum_unit = shown_.maximum_unit = shown_.unit_word;
}

void Meter::restart_min_max() {
    // A reading that is not a number leaves them open, so the next real reading becomes both.
    if (reading_unusable_) {
        min_reading_ = std::numeric_limits<double>::infinity();
        max_reading_ = -std::numeric_limits<double>::infinity();
    } else {
        min_reading_ = reading_;
        max_reading_ = reading_;
    }
}

void Meter::publish(MeterReading::Occasion occasion) {
    shown_.occasion = occasion;
    shown_.held = hold_;
    shown_.seconds = env_.clock() - start_time_s_;
    Q_EMIT published(shown_);
}

// Settings step from what the meter last showed, not from a fresh read, so two presses before
// the next poll write the same code; the analyser's answer comes back through the update cycle.

void Meter::toggle_channel() {
    channel_ = channel_ == "A" ? "B" : "A";
}

void Meter::toggle_domain() {
    if (!analyser_)
        return;
    // A read that fails takes the first branch, like a digital domain: back to the analogue
    // inputs, the analyser's usual home.
    bool digital = true;
    ignoring_failures(
        [&] { digital = to_double(get_member(*analyser_, "SignalAnalyzer", "SA_Source")) == 1.0; });
    write_code(analyser_, "SignalAnalyzer", "SA_Source", digital ? 0 : 1);
}

void Meter::step_input() {
    if (input_domain_ == 0) {
        // Between the balanced/unbalanced inputs and the generator's output.
        analogue_input_ = analogue_input_ == 3 ? 0 : 3;
        write_code(analyser_, "AnalogueInputs", "AI_Source", analogue_input_);
    } else if (input_domain_ == 1) {
        // Through the five digital connectors.
        digital_input_ = digital_input_ >= 4 ? 0 : static_cast<std::int16_t>(digital_input_ + 1);
        write_code(analyser_, "DigitalInputs", "DI_Source", digital_input_);
    }
}

void Meter::step_unit() {
    shown_.unit_word = kUnitsPending;
    if (relativity_.shown == 0)
        unit_.polled = next_absolute_unit(unit_.shown);
    else if (relativity_.shown >= 1 && relativity_.shown <= 3)
        unit_.polled = unit_.shown == 37 ? 38 : 37;  // relative dB and relative %
    write_code(analyser_, "CTDetector", "CTD_Unit", unit_.polled);
    publish(MeterReading::Occasion::Key);
}

void Meter::step_weighting() {
    shown_.weighting_word = kUnitsPending;
    publish(MeterReading::Occasion::Key);
    std::int16_t next = 0;
    switch (weighting_.shown) {
        case 0:
            next = 1;
            break;
        case 1:
            next = 3;
            break;
        case 3:
            next = 4;
            break;
        case 4:
            next = 5;
            break;
        case 5:
            next = 0;
            break;
        default:
            env_.show_message(
                {Message::Icon::Warning, kTitle, "Invalid Weighting Filter already selected"});
            return;
    }
    write_detector_setting("CTD_WeightingFilter", next, &Meter::show_weighting_word);
}

void Meter::step_response() {
    shown_.response_word = kResponsePending;
    publish(MeterReading::Occasion::Key);
    if (response_.shown < 0 || response_.shown > 3) {
        env_.show_message({Message::Icon::Warning, kTitle, "Invalid response already selected"});
        return;
    }
    write_detector_setting("CTD_Response", static_cast<std::int16_t>((response_.shown + 1) % 4),
                           &Meter::show_response_word);
}

void Meter::step_relativity() {
    shown_.relativity_word = kUnitsPending;
    relativity_.polled =
        relativity_.shown >= 3 ? 0 : static_cast<std::int16_t>(relativity_.shown + 1);
    write_detector_setting("CTD_Relativity", relativity_.polled, &Meter::show_relativity_word);
}

void Meter::write_detector_setting(const char* member, std::int16_t code,
                                   void (Meter::*show_word)()) {
    if (analyser_ && !write_code(analyser_, "CTDetector", member, code)) {
        // A refused write changes nothing, so no poll would ever replace the placeholder, which
        // would hide the setting the analyser still has: show its word again now. If the
        // analyser has gone, the next cycle notices.
        ignoring_failures([this, show_word] { (this->*show_word)(); });
    }
    publish(MeterReading::Occasion::Key);
}

void Meter::reset_min_max() {
    shown_.minimum = shown_.maximum = kMinMaxPending;
    min_max_reset_due_ = true;
    publish(MeterReading::Occasion::Key);
}

void Meter::toggle_hold() {
    hold_ = !hold_;
}

void Meter::select_function(std::string_view name) {
    if (!analyser_)
        return;
    ignoring_failures(
        [&] { set_member(*analyser_, "CTDetector", "CTD_Function", Value(std::string(name))); });
}

void Meter::step_knob_left() {
    select_function(knob_step_left(shown_.function_name));
}

void Meter::step_knob_right() {
    select_function(knob_step_right(shown_.function_name));
}

std::string Meter::calibration_refusal(AutomationObject& app) {
    const ConstantReader constant = constant_reader();
    auto code = [&](const char* object, const char* member) {
        return static_cast<double>(code_of(app, object, member));
    };
    if (code("SignalAnalyzer", "SA_Source") != 0)
        return "Only an analogue input has a calibration: the digital inputs read against their "
               "own full scale.";
    const std::string function = to_text(get_member(app, "CTDetector", "CTD_Function"));
    const double unit = code("CTDetector", "CTD_Unit");
    const double weighting = code("CTDetector", "CTD_WeightingFilter");
    const bool unweighted =
        weighting == constant("CTD_WEIGHTING_NONE") ||
        (weighting == constant("CTD_WEIGHTING_DEFAULT") &&
         code("SignalAnalyzer", "SA_DefaultWeightingFilter") == constant("CTD_WEIGHTING_NONE"));
    if (function != "Amplitude" || (unit != constant("UNIT_V") && unit != constant("UNIT_VRMS")) ||
        code("CTDetector", "CTD_Relativity") != constant("CTD_RELATIVITY_ABS") || !unweighted)
        return "Calibrate on an Amplitude reading in V, unweighted and absolute: the calibration "
               "is the volts of a full-scale sine.";
    if (offers_status_) {
        const StatusText status = interpret_status(
            to_int32(get_member(app, "SignalAnalyzer", "SA_Status"), "SignalAnalyzer.SA_Status"),
            constant);
        // An uncalibrated input is what a calibration is for; anything else spoils the reading.
        if (!status.words.empty() && status.words != "UNCALIBRATED")
            return "The reading cannot be trusted now (" + status.words +
                   "): calibrate on a steady signal.";
    }
    return {};
}

bool Meter::calibrate(double true_rms_v) {
    if (!analyser_ || (channel_ != "A" && channel_ != "B"))
        return false;
    auto refuse = [this](const std::string& why) {
        env_.show_message({Message::Icon::Warning, kTitle, why});
        return false;
    };
    if (!(std::isfinite(true_rms_v) && true_rms_v > 0.0))
        return refuse("The true level must be a number of volts above 0.");
    const char* full_scale_member = channel_ == "A" ? "AI_FullScaleA" : "AI_FullScaleB";
    try {
        AutomationObject& app = *analyser_;
        if (const std::string why = calibration_refusal(app); !why.empty())
            return refuse(why);
        const double reading_v =
            to_double(get_member(app, "CTDetector", channel_ == "A" ? "CTD_ChA" : "CTD_ChB"));
        const double full_scale_v = to_double(get_member(app, "AnalogueInputs", full_scale_member));
        // Far below full scale the reading is mostly the input's own noise.
        if (!(std::isfinite(reading_v) && reading_v >= full_scale_v * kLeastCalibrationShare))
            return refuse("Channel " + channel_ +
                          " reads no signal to calibrate on: it needs at least a thousandth of "
                          "its full scale.");
        // The reading scales with the full scale: the same samples, in other volts.
        set_member(app, "AnalogueInputs", full_scale_member,
                   Value(full_scale_v * true_rms_v / reading_v));
    } catch (const AutomationError& e) {
        return refuse(std::string("The calibration was not set: ") + e.what());
    }
    // Minimum and maximum were read on the old scale.
    min_max_reset_due_ = true;
    return true;
}

}  // namespace vantel
