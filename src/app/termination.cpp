// SPDX-License-Identifier: MIT
#include "app/termination.h"

#include <QSocketNotifier>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace vantel {

namespace {

// A signal handler may only do async-signal-safe things: it writes one byte into a socket that
// the event loop watches, and the window is closed from there.
int signal_socket[2] = {-1, -1};

void on_signal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signal_socket[0], &byte, 1);
}

}  // namespace

void close_on_termination_signals(QWidget* window) {
    if (signal_socket[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_socket) != 0)
        return;
    auto* notifier = new QSocketNotifier(signal_socket[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] auto got = ::read(signal_socket[1], &byte, 1);
        window->close();
    });
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace vantel
