// SPDX-License-Identifier: MIT
#pragma once

// Both programs are Windows programs rather than console programs, so that neither the panel
// nor an analyser that COM starts opens a console window. Started from a console all the same
// (`vantel-dmm --no-window --log -`, `vantel-analyser /RegServer`), they write to it.

namespace vantel {

// Standard output and error go to the console of the program that started this one, unless
// they already go somewhere (a pipe or a file), and so do Qt's log lines. Called before the
// application object exists.
void attach_to_parent_console();

}  // namespace vantel
