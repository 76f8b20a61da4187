// SPDX-License-Identifier: MIT
// The update cycle: every 200 ms the panel polls the analyser and shows what it reads.
#include <QLabel>
#include <QScopeGuard>

#include <cmath>
#include <limits>

#include "analyser/conversions.h"
#include "panel/form1.h"
#include "pipeline/reading_format.h"

namespace vantel {

namespace {

constexpr std::int16_t kTicksPerWorkTick = 4;      // 4 x 50 ms: one cycle every 200 ms
constexpr std::int16_t kCyclesBeforePoll = 3;      // the two start-up cycles skip the poll
constexpr std::int16_t kWorkTicksPerBlink = 3;     // 600 ms on, 600 ms off while held
constexpr std::int16_t kDefaultWeightingCode = 5;  // the detector follows the default filter
constexpr double kHzPerKHz = 1000.0;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

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

}  // namespace

void Form1::Timer1_Timer() {
    if (in_cycle_)
        return;
    ++Tick_Count;
    if (Tick_Count < kTicksPerWorkTick)
        return;
    if (!Hold_On) {
        Update_Readings();
        if (ended_)
            return;
        Hold_icon->hide();
    } else {
        count_up(Cycle_Count);
        if (Cycle_Count >= kWorkTicksPerBlink) {
            Hold_icon->setVisible(Hold_icon->isHidden());
            Cycle_Count = 0;
        }
    }
    Tick_Count = 0;
}

void Form1::Update_Readings() {
    AutomationObject& app = *AnalyzerApp;
    in_cycle_ = true;
    const auto done = qScopeGuard([this] { in_cycle_ = false; });
    try {
        count_up(Cycle_Count);
        if (Cycle_Count >= kCyclesBeforePoll) {
            try {
                New_Unit = code_of(app, "CTDetector", "CTD_Unit");
            } catch (const AutomationError&) {
                // An analyser between units may refuse this one read; the old unit stands.
            }
            New_Weighting = code_of(app, "CTDetector", "CTD_WeightingFilter");
            New_Response = code_of(app, "CTDetector", "CTD_Response");
            New_Relativity = code_of(app, "CTDetector", "CTD_Relativity");
            New_Default_Weighting = code_of(app, "SignalAnalyzer", "SA_DefaultWeightingFilter");

            Function_Name =
                to_text(get_member(app, "CTDetector", "CTD_Function"), "CTDetector.CTD_Function");
            Selection_Info1->setText(qs(Function_Name));
            Select_Function_indicator();
            Channel_Indicator->setText(qs(Selected_Channel));

            Input_Domain = code_of(app, "SignalAnalyzer", "SA_Source");
            if (Input_Domain == 0) {
                Analogue_Input = code_of(app, "AnalogueInputs", "AI_Source");
                Selection_Info2->setText(qs(interpret_analogue_input(Analogue_Input)));
                Selection_Info5->setText(QStringLiteral("Analogue"));
                Selection_Info4->setText(QString());
            } else if (Input_Domain == 1) {
                Digital_Input = code_of(app, "DigitalInputs", "DI_Source");
                Selection_Info2->setText(
                    qs(interpretDigInput(code_of(app, "DigitalInputs", "DI_Source"))));
                Selection_Info5->setText(QStringLiteral("Digital"));
                Input_FrameRate = to_int32(get_member(app, "DigitalInputs", "DI_FrameRate"),
                                           "DigitalInputs.DI_FrameRate");
                Selection_Info4->setText(
                    Input_FrameRate == 0
                        ? QStringLiteral("Unlocked")
                        : qs("Locked: " + number_text(Input_FrameRate / kHzPerKHz) + "kHz"));
            }
        }

        if (New_Unit != Current_Unit || New_Weighting != Current_Weighting ||
            New_Relativity != Current_Relativity) {
            Renew_Status();
            MaxMin_Reset_Due = true;
        }
        if (New_Response != Current_Response ||
            (Current_Weighting == kDefaultWeightingCode &&
             New_Default_Weighting != Current_Default_Weighting)) {
            Renew_Status();
            MaxMin_Reset_Due = true;
        }

        if (Selected_Channel == "A" || Selected_Channel == "B") {
            const char* member = Selected_Channel == "A" ? "CTD_ChA" : "CTD_ChB";
            Value reading = get_member(app, "CTDetector", member);
            try {
                Current_Reading = to_double(reading);
            } catch (const AutomationError&) {
                // Text or null where a number belongs: shown as over-range, not a reason to stop.
                Current_Reading = std::numeric_limits<double>::quiet_NaN();
            }
        } else {
            env_.show_message({Message::Icon::None, "Vantel DMM", "Channel error"});
        }

        const UnitClass unit_class = classify_unit(Current_Unit, constant_reader());
        const DisplayText shown =
            format_reading(Current_Reading, unit_class, interpret_units(Current_Unit));
        if (unit_class != UnitClass::Hex)
            Reading_Text = shown.reading;
        Label1->setText(qs(shown.reading));
        Label9->setText(qs(shown.unit));
        reading_unusable_ = !std::isfinite(Current_Reading) ||
                            (unit_class == UnitClass::Hex && !hex_text(Current_Reading));

        if (MaxMin_Reset_Due) {
            Reset_MaxMin();
            MaxMin_Reset_Due = false;
        }
        Update_MaxMin();
    } catch (const AutomationError& e) {
        // The analyser has gone away or answers nonsense: the window closes without a word, as
        // the Off key closes it, but a script and the user's terminal learn why.
        env_.report(std::string("the analyser failed, so the panel ends: ") + e.what());
        exit_code_ = kExitAnalyserFailed;
        close();
    }
}

}  // namespace vantel
