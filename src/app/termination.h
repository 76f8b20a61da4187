// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

namespace vantel {

// SIGINT and SIGTERM close `window` as its close box does, so the one shut-down path runs (and
// the analyser gets its option back) however the program is told to stop.
void close_on_termination_signals(QWidget* window);

}  // namespace vantel
