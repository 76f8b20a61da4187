// SPDX-License-Identifier: MIT
// What the keys, the function legends and the knob do. Settings step from what the panel last
// showed (the form's state), not from a fresh read, so two presses before the next poll write
// the same code; the analyser's answer comes back through the update cycle.
#include <QLabel>

#include "analyser/conversions.h"
#include "panel/form1.h"
#include "status/functions.h"

namespace vantel {

namespace {

// Placeholders shown while a setting changes.
const QString kUnitsPending = QStringLiteral(" - - ");
const QString kResponsePending = QStringLiteral("- -");
const QString kMinMaxPending = QStringLiteral(" -- ");

// Key writes never stop the panel: if the analyser refuses, the next poll shows what it has.
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

void Form1::Channel_button_Action() {
    Selected_Channel = Selected_Channel == "A" ? "B" : "A";
}

void Form1::AnaDig_button_Action() {
    if (!AnalyzerApp)
        return;
    // A read that fails takes the first branch, like a digital domain: back to the analogue
    // inputs, the analyser's usual home.
    bool digital = true;
    ignoring_failures([&] {
        digital = to_double(get_member(*AnalyzerApp, "SignalAnalyzer", "SA_Source")) == 1.0;
    });
    write_code(AnalyzerApp, "SignalAnalyzer", "SA_Source", digital ? 0 : 1);
}

void Form1::InputSel_button_Action() {
    if (Input_Domain == 0) {
        // Between the balanced/unbalanced inputs and the generator's output.
        Analogue_Input = Analogue_Input == 3 ? 0 : 3;
        write_code(AnalyzerApp, "AnalogueInputs", "AI_Source", Analogue_Input);
    } else if (Input_Domain == 1) {
        // Through the five digital connectors.
        Digital_Input = Digital_Input >= 4 ? 0 : static_cast<std::int16_t>(Digital_Input + 1);
        write_code(AnalyzerApp, "DigitalInputs", "DI_Source", Digital_Input);
    }
}

void Form1::Units2_Button_Action() {
    Label9->setText(kUnitsPending);
    if (Current_Relativity == 0)
        New_Unit = next_absolute_unit(Current_Unit);
    else if (Current_Relativity >= 1 && Current_Relativity <= 3)
        New_Unit = Current_Unit == 37 ? 38 : 37;  // relative dB and relative %
    write_code(AnalyzerApp, "CTDetector", "CTD_Unit", New_Unit);
}

void Form1::Weight_button_Action() {
    Label5->setText(kUnitsPending);
    std::int16_t next = 0;
    switch (Current_Weighting) {
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
            env_.show_message({Message::Icon::Warning, Message_Title,
                               "Invalid Weighting Filter already selected"});
            return;
    }
    write_detector_setting("CTD_WeightingFilter", next, &Form1::show_weighting_word);
}

void Form1::Resp_button_Action() {
    Label10->setText(kResponsePending);
    if (Current_Response < 0 || Current_Response > 3) {
        env_.show_message(
            {Message::Icon::Warning, Message_Title, "Invalid response already selected"});
        return;
    }
    write_detector_setting("CTD_Response", static_cast<std::int16_t>((Current_Response + 1) % 4),
                           &Form1::show_response_word);
}

void Form1::Relativity_button_Action() {
    Rel_Label->setText(kUnitsPending);
    New_Relativity =
        Current_Relativity >= 3 ? 0 : static_cast<std::int16_t>(Current_Relativity + 1);
    write_detector_setting("CTD_Relativity", New_Relativity, &Form1::show_relativity_word);
}

void Form1::write_detector_setting(const char* member, std::int16_t code,
                                   void (Form1::*show_word)()) {
    if (!AnalyzerApp || write_code(AnalyzerApp, "CTDetector", member, code))
        return;
    // A refused write changes nothing, so no poll would ever replace the placeholder, which
    // would hide the setting the analyser still has: show its word again now. If the analyser
    // has gone, the next cycle notices.
    ignoring_failures([this, show_word] { (this->*show_word)(); });
}

void Form1::Reset_button_Action() {
    Label4->setText(kMinMaxPending);
    Label6->setText(kMinMaxPending);
    MaxMin_Reset_Due = true;
}

void Form1::Hold_button_Action() {
    Hold_On = !Hold_On;
}

void Form1::select_function(std::string_view name) {
    if (!AnalyzerApp)
        return;
    ignoring_failures(
        [&] { set_member(*AnalyzerApp, "CTDetector", "CTD_Function", Value(std::string(name))); });
}

void Form1::Function_Knob_MouseUp(Qt::MouseButton Button, QPointF position) {
    if (!inside(*Function_Knob, position))
        return;
    const std::string current = Selection_Info1->text().toStdString();
    if (Button == Qt::LeftButton)
        select_function(knob_step_left(current));
    else if (Button == Qt::RightButton)
        select_function(knob_step_right(current));
}

bool Form1::inside(const QWidget& control, QPointF position) {
    // Strict on all four sides: a release on the first row or column, or on the far edge,
    // is outside.
    return position.x() > 0 && position.x() < control.width() && position.y() > 0 &&
           position.y() < control.height();
}

}  // namespace vantel
