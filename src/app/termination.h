// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <csignal>
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

// A pipe whose reader has gone, or a file past the size limit (ulimit -f), fails the write as a
// full disk does, for every file the program writes (the log, the settings), instead of ending
// the program before the analyser gets its option back. Called first thing in main.
inline void fail_writes_instead_of_signalling() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace vantel
