// SPDX-License-Identifier: MIT
#pragma once

// What the panel needs from the world outside its window, gathered in one place so that tests
// can stand in for each: the analyser, the clock, the start-up wait, modal messages and the end
// of the program.

#include <cstdint>
#include <functional>
#include <string>

#include "analyser/automation.h"

namespace vantel {

struct Message {
    enum class Icon { None, Warning, Critical };
    Icon icon = Icon::None;
    std::string title;
    std::string text;
};

struct FormEnvironment {
    // Obtains the analyser's application object; throws AutomationError when there is none.
    std::function<ObjectRef()> obtain_analyser;
    // Monotonic seconds.
    std::function<double()> clock;
    // Waits this many seconds while handling every window event.
    std::function<void(std::int32_t)> wait_seconds;
    // Shows a modal message box with one OK button and returns when it is dismissed.
    std::function<void(const Message&)> show_message;
    // Ends the program with this exit code.
    std::function<void(int)> end_program;

    // The real ones: steady clock, Wait_Seconds, QMessageBox, QCoreApplication::exit.
    static FormEnvironment standard(std::function<ObjectRef()> obtain_analyser);
};

}  // namespace vantel
