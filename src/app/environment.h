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
    // Writes one line about the program's end to standard error, where a script sees it.
    std::function<void(const std::string&)> report;
    // Ends the program with this exit code.
    std::function<void(int)> end_program;

    // The real ones: steady clock, Wait_Seconds, QMessageBox, standard error,
    // QCoreApplication::exit. Where nobody can see a box (no display that anyone looks at), a
    // message goes to standard error instead and the program goes on as if OK had been pressed.
    static FormEnvironment standard(std::function<ObjectRef()> obtain_analyser);
};

// Whether the program's windows reach a screen someone can look at: false on Qt's offscreen
// and minimal platforms, where a modal box would wait for ever.
bool display_is_visible();

// "vantel-dmm: `line`" on standard error.
void report_to_stderr(const std::string& line);

}  // namespace vantel
