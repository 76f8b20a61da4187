// SPDX-License-Identifier: MIT
#pragma once

// Form1, the meter's one window, and how its pieces fit together:
//
//   Timer1 (50 ms) -> Timer1_Timer -> every 4th tick: Update_Readings, or blink Hold_icon
//   Update_Readings -> status poll (analyser reads) -> Renew_Status / Select_Function_indicator
//                   -> channel read -> format_reading (pipeline/) -> Label1, Label9
//                   -> Reset_MaxMin / Update_MaxMin -> Label3, Label4, Label6, Label7
//   keys and legends -> actions -> analyser writes; the next cycles read the change back
//
// The window only wires and paints: formatting, vocabularies and conversions are plain functions
// in pipeline/, status/ and analyser/. Its procedures are defined next to the code they use:
// start-up and shut-down in app/, the update cycle and min/max in pipeline/, the indicators and
// vocabularies in status/, the layout and key actions in panel/.

#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

#include "app/environment.h"
#include "app/form_state.h"
#include "status/vocabulary.h"

class QLabel;

namespace vantel {

class PictureBox;

// How the program ends, for the scripts that start it.
inline constexpr int kExitClosed = 0;               // closed by the user or a signal
inline constexpr int kExitAnalyserUnavailable = 2;  // unreachable, or not ready in time
inline constexpr int kExitAnalyserFailed = 3;       // an access failed while running

class Form1 final : public QWidget, public FormState {
    Q_OBJECT

public:
    explicit Form1(FormEnvironment environment, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up: attach, wait for the analyser, prepare the panel and start Timer1. Throws
    // AutomationError when the analyser cannot be obtained or asked whether it is ready.
    void Form_Load();
    // Shut-down: restore the analyser option, let go of the analyser, end the program.
    void Form_Unload(std::int16_t& Cancel);
    bool ended() const { return ended_; }
    int exit_code() const { return exit_code_; }

    void Timer1_Timer();
    void Update_Readings();

    void Update_MaxMin();
    void Reset_MaxMin();

    void Renew_Status();
    void Select_Function_indicator();

    // Vocabularies: the analyser's codes as panel words, asking the analyser for its constants.
    std::string interpret_units(std::int16_t unit) const;
    std::string interpret_Weighting(std::int16_t Weighting) const;
    std::string interpret_Response(std::int16_t Response) const;
    std::string interpret_relativity(std::int16_t iRelativity) const;
    std::string interpret_analogue_input(std::int16_t iinput) const;
    std::string interpretDigInput(std::int16_t dinput) const;

    void OFF_button_Click();

    // What each key does when it is released inside (the press only shows it pressed).
    void Channel_button_Action();
    void AnaDig_button_Action();
    void InputSel_button_Action();
    void Units2_Button_Action();
    void Weight_button_Action();
    void Resp_button_Action();
    void Relativity_button_Action();
    void Reset_button_Action();
    void Hold_button_Action();
    // Function legends and knob: they only write the function's name into the analyser.
    void select_function(std::string_view name);
    void Function_Knob_MouseUp(Qt::MouseButton Button, QPointF position);
    // Whether a release at `position` (relative to `control`) lies strictly inside it.
    static bool inside(const QWidget& control, QPointF position);

    // Controls, by the names the rest of the program uses.
    QTimer Timer1;
    QLabel* Label1 = nullptr;   // main reading
    QLabel* Label9 = nullptr;   // its unit
    QLabel* Label3 = nullptr;   // minimum's unit
    QLabel* Label4 = nullptr;   // minimum
    QLabel* Label6 = nullptr;   // maximum
    QLabel* Label7 = nullptr;   // maximum's unit
    QLabel* Label5 = nullptr;   // weighting word
    QLabel* Label10 = nullptr;  // response word
    QLabel* Rel_Label = nullptr;
    QLabel* Hold_icon = nullptr;
    QLabel* Selection_Info1 = nullptr;  // function name
    QLabel* Selection_Info2 = nullptr;  // input name
    QLabel* Selection_Info4 = nullptr;  // digital input lock
    QLabel* Selection_Info5 = nullptr;  // input domain
    QLabel* Channel_Indicator = nullptr;
    QLabel* Function_Knob = nullptr;
    std::array<PictureBox*, 6> Blip{};

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void build_controls();
    // Connects the keys, legends and knob to their actions, with their keyboard shortcuts.
    void wire_controls();
    // Reads one of the analyser's named constants as a number.
    ConstantReader constant_reader() const;
    // The shown setting's word in its status label (Renew_Status writes all three).
    void show_response_word();
    void show_relativity_word();
    void show_weighting_word();
    // Writes a detector setting for a key; if the analyser refuses it, `show_word` puts the
    // word of the setting still in force back in place of the key's placeholder.
    void write_detector_setting(const char* member, std::int16_t code, void (Form1::*show_word)());
    // Restarts minimum and maximum at the current reading; a reading that is not a number
    // leaves them open, so the next real reading becomes both.
    void restart_min_max();
    // The main reading is not a usable number: minimum and maximum pass it by.
    bool reading_unusable_ = false;
    // A cycle is running; a modal message inside it keeps the timer ticking, and a tick then
    // must not start a second cycle inside the first.
    bool in_cycle_ = false;

    FormEnvironment env_;
    bool ended_ = false;
    int exit_code_ = kExitClosed;
};

}  // namespace vantel
