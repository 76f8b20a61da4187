// SPDX-License-Identifier: MIT
#pragma once

// What the meter needs from the world outside it, gathered in one place so that tests can stand
// in for each: the analyser, the clock, the start-up wait, modal messages, a line for standard
// error and the end of the program. app/environment.h gives the real ones.

#include <cstdint>
#include <functional>
#include <string>

#include "automation/automation.h"

namespace vantel {

struct Message {
    enum class Icon { None, Warning, Critical };
    Icon icon = Icon::None;
    std::string title;
    std::string text;
};

struct Environment {
    // Obtains the analyser's application object; throws AutomationError when there is none.
    std::function<ObjectRef()> obtain_analyser;
    // Monotonic seconds.
    std::function<double()> clock;
    // Waits this many seconds while handling every event.
    std::function<void(std::int32_t)> wait_seconds;
    // Shows a modal message box with one OK button and returns when it is dismissed.
    std::function<void(const Message&)> show_message;
    // Writes one line to standard error, where a script sees it.
    std::function<void(const std::string&)> report;
    // Ends the program with this exit code.
    std::function<void(int)> end_program;
    // Optional: runs once the analyser has said it is ready, before the first reading (the
    // command line's --set writes). An AutomationError from it ends the start-up with exit code
    // 2, nothing else changed in the analyser.
    std::function<void(const ObjectRef& analyser)> prepare_analyser;
};

// How the program ends, for the scripts that start it.
inline constexpr int kExitClosed = 0;       // closed by the user or a signal
inline constexpr int kExitLimitFailed = 1;  // a reading fell outside --limits
// Could not start: a bad option, no log, a refused --set, the analyser unreachable or not ready
// in time.
inline constexpr int kExitAnalyserUnavailable = 2;
inline constexpr int kExitAnalyserFailed = 3;  // an access failed while running

}  // namespace vantel
