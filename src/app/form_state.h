// SPDX-License-Identifier: MIT
#pragma once

// The whole state of the panel for one run: the fields of the main window, each starting as
// zero, false, the empty text or the empty value. Nothing is persisted between runs.

#include <cstdint>
#include <optional>
#include <string>

#include "analyser/automation.h"

namespace vantel {

struct FormState {
    // The analyser's application object, from start-up to shut-down.
    ObjectRef AnalyzerApp;

    // Start-up: a monotonic clock reading in seconds taken before the first initialisation test,
    // so that a wait across midnight still times out.
    double Start_Time = 0.0;
    std::string Message_Text;
    // The analyser's OPT_UseSettlingsFromScripts as read at start-up, restored at shut-down;
    // nothing when that read failed or never happened, and then nothing is written back.
    std::optional<Value> Saved_Settling_Option;

    // Reading pipeline.
    double Current_Reading = 0.0;  // raw value of the selected channel, in the detector's unit
    std::string Reading_Text;      // the formatted main reading
    double Min_Reading = 0.0;
    double Max_Reading = 0.0;
    bool MaxMin_Reset_Due = false;
    std::string Selected_Channel;  // "A" or "B"
    bool Hold_On = false;
    std::int16_t Tick_Count = 0;   // timer ticks since the last work tick, 0 to 3
    std::int16_t Cycle_Count = 0;  // update cycles so far (saturating); while held, blink ticks

    // Status pairs: what the panel shows, and what the last poll read (or a key requested).
    std::int16_t Current_Unit = 0, New_Unit = 0;
    std::int16_t Current_Weighting = 0, New_Weighting = 0;
    std::int16_t Current_Response = 0, New_Response = 0;
    std::int16_t Current_Relativity = 0, New_Relativity = 0;
    std::int16_t Current_Default_Weighting = 0, New_Default_Weighting = 0;

    // Function and input, written by the status poll (and the input key).
    std::string Function_Name;
    std::int16_t Input_Domain = 0;  // 0 analogue, 1 digital
    std::int16_t Analogue_Input = 0;
    std::int16_t Digital_Input = 0;
    std::int32_t Input_FrameRate = 0;  // Hz; 0 while the digital input is not locked

    // Title of the two "already selected" messages.
    std::string Message_Title = "Vantel DMM";
};

}  // namespace vantel
