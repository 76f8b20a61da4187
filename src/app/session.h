// SPDX-License-Identifier: MIT
#pragma once

// One run of the meter, with its window or without, as the command line asked.

#include <functional>
#include <string>

#include "automation/automation.h"

namespace vantel {

class PanelInstance;

struct SessionOptions {
    std::string backend;   // as chosen by choose_backend
    std::string log_path;  // --log: a file, "-" for standard output, empty for none
    bool window = true;    // false for --no-window
    int readings = 0;      // --count: close after this many readings logged; 0 for no end
    // The analyser to use instead of the backend's (the built-in one measuring --input).
    std::function<ObjectRef()> analyser;
};

// Whether the command line asks for --no-window: it decides which application object main
// creates, before the command line is parsed properly.
bool wants_no_window(int argc, char** argv);

// Opens the log (exit code 2 at once, naming the file, when it cannot), attaches to the analyser,
// starts the meter and its window, and runs until the meter ends; the exit code. `instance`, when
// given, is the session's one panel: another start's request brings the window to the front.
int run_session(const SessionOptions& options, PanelInstance* instance);

}  // namespace vantel
