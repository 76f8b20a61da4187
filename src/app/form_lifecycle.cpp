// SPDX-License-Identifier: MIT
// Start-up and shut-down of the panel.
#include <QCloseEvent>
#include <QLabel>

#include "analyser/conversions.h"
#include "panel/form1.h"

namespace vantel {

namespace {

// The analyser is given this long to report itself ready.
constexpr double kStartupTimeout_s = 20.0;
constexpr std::int16_t kTimerPeriod_ms = 50;

}  // namespace

void Form1::Form_Load() {
    AnalyzerApp = env_.obtain_analyser();
    Start_Time = env_.clock();

    // Ask about every two seconds; the time-out test falls one second after each question.
    while (!initialisation_done(AnalyzerApp->get("IsInitialised"))) {
        env_.wait_seconds(1);
        if (ended_)
            return;  // closed meanwhile (a signal, or the window manager)
        if (env_.clock() - Start_Time > kStartupTimeout_s) {
            Message_Text = std::string("The program has timed out waiting for the ") +
                           "Vantel Application to initialise and will now " + "close.  ";
            env_.show_message({Message::Icon::Warning, "Vantel DMM", Message_Text});
            // Nothing has been changed in the analyser yet, so nothing is restored.
            AnalyzerApp.reset();
            ended_ = true;
            exit_code_ = kExitAnalyserUnavailable;
            env_.end_program(exit_code_);
            return;
        }
        env_.wait_seconds(1);
        if (ended_)
            return;
    }

    Selected_Channel = "A";
    Min_Reading = Current_Reading;
    Max_Reading = Current_Reading;
    Update_Readings();
    if (ended_)
        return;  // the first cycle failed and closed the window
    restart_min_max();
    Label4->setText(Label1->text());
    Label6->setText(Label1->text());
    Label3->setText(Label9->text());
    Label7->setText(Label9->text());
    Timer1.setInterval(kTimerPeriod_ms);
    Timer1.start();

    // From here on a failing step is skipped and the next one runs. The option is switched off
    // only once its value is safely kept: a value that could not be read is never overwritten,
    // because nothing could put it back.
    try {
        Saved_Settling_Option = get_member(*AnalyzerApp, "Options", "OPT_UseSettlingsFromScripts");
    } catch (const AutomationError&) {
    }
    if (Saved_Settling_Option) {
        try {
            set_member(*AnalyzerApp, "Options", "OPT_UseSettlingsFromScripts",
                       Value(AutoBool::False));
        } catch (const AutomationError&) {
        }
    }
    Hold_icon->hide();
    Update_Readings();
}

void Form1::Form_Unload(std::int16_t& /*Cancel*/) {
    if (ended_)
        return;
    ended_ = true;
    Timer1.stop();
    // Put the option back only when it was read: otherwise the analyser keeps what it has.
    if (AnalyzerApp && Saved_Settling_Option) {
        try {
            set_member(*AnalyzerApp, "Options", "OPT_UseSettlingsFromScripts",
                       *Saved_Settling_Option);
        } catch (const AutomationError&) {
        }
    }
    AnalyzerApp.reset();
    env_.end_program(exit_code_);
}

void Form1::closeEvent(QCloseEvent* event) {
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    event->accept();
}

void Form1::OFF_button_Click() {
    close();
}

}  // namespace vantel
