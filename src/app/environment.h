// SPDX-License-Identifier: MIT
#pragma once

// The real world for the meter (meter/environment.h): the steady clock, Wait_Seconds, QMessageBox,
// standard error, QCoreApplication::exit.

#include <functional>
#include <string>

#include "meter/environment.h"

namespace vantel {

// Where nobody can see a box (no display anyone looks at, or no window at all), a message goes
// to standard error instead and the program goes on as if OK had been pressed.
Environment standard_environment(std::function<ObjectRef()> obtain_analyser);

// Whether the program's windows reach a screen someone can look at: false without a GUI
// application and on Qt's offscreen and minimal platforms, where a modal box would wait for ever.
bool display_is_visible();

// "vantel-dmm: `line`" on standard error.
void report_to_stderr(const std::string& line);

}  // namespace vantel
