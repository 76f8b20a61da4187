// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <functional>

namespace vantel {

// SIGINT, SIGTERM, SIGHUP and SIGQUIT run `action` from the event loop of `context`'s thread, for
// as long as `context` lives: a signal handler may do next to nothing, the event loop may do
// anything.
void on_termination_signals(QObject* context, std::function<void()> action);

// Those signals close `window` as its close box does, so the one shut-down path runs (and
// the analyser gets its option back) however the program is told to stop.
inline void close_on_termination_signals(QWidget* window) {
    on_termination_signals(window, [window] { window->close(); });
}

}  // namespace vantel
