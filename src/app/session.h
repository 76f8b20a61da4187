// SPDX-License-Identifier: MIT
#pragma once

// One run of the meter, with its window or without, as the command line asked.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/member_access.h"
#include "automation/automation.h"
#include "meter/scripted_run.h"
#include "recorder/recorder.h"

namespace vantel {

class PanelInstance;

struct SessionOptions {
    std::string backend;  // as chosen by choose_backend
    // --log, already open (it is opened before any source or analyser); null for none.
    std::unique_ptr<Recorder> log;
    bool window = true;  // false for --no-window
    // --zoom: the panel's size in per cent, chosen as from the menu's View (and so kept).
    std::optional<int> zoom_percent;
    bool open_trend = false;  // --trend: the trend window opens with the panel
    // The analyser to use instead of the backend's (the built-in one measuring --input).
    std::function<ObjectRef()> analyser;
    std::vector<MemberWrite> writes;  // --set, in order, before the first reading
    RunPlan plan;                     // --count, --duration, --settle, --limits
    // --once without --log: the one reading goes to standard output as the display shows it.
    bool print_reading = false;
};

// Attaches to the analyser, makes the --set writes, starts the meter and its window, and runs
// until the meter ends or the plan is done; the exit code, the highest that applies (3 the
// analyser failed, 2 it could not start, 1 a limit failed). `instance`, when given, is the
// session's one panel: another start's request brings the window to the front.
int run_session(SessionOptions& options, PanelInstance* instance);

}  // namespace vantel
