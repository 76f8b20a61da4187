// SPDX-License-Identifier: MIT
// Windows' counterpart of the termination signals: the console's control events (Ctrl+C,
// Ctrl+Break, the console closed, logoff, shutdown). The system calls the handler on a thread of
// its own; it sets an event that the event loop watches, and the action runs from there.
#include <windows.h>

#include <QWinEventNotifier>

#include "app/termination.h"

namespace vantel {

namespace {

HANDLE stop_requested = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    SetEvent(stop_requested);
    // For these the system ends the process as soon as the handler returns: give the event
    // loop the time the system allows (5 s) to put the analyser's option back and end.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(5000);
    return TRUE;
}

}  // namespace

void on_termination_signals(QObject* context, std::function<void()> action) {
    if (stop_requested == nullptr) {
        stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (stop_requested == nullptr)
            return;
        SetConsoleCtrlHandler(on_console_event, TRUE);
    }
    auto* notifier = new QWinEventNotifier(stop_requested, context);
    QObject::connect(notifier, &QWinEventNotifier::activated, context,
                     [action = std::move(action)] {
                         ResetEvent(stop_requested);
                         action();
                     });
}

}  // namespace vantel
