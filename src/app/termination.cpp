// SPDX-License-Identifier: MIT
#include "app/termination.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace vantel {

namespace {

// A signal handler may only do async-signal-safe things: it writes one byte into a socket that
// the event loop watches, and the action runs from there.
int signal_socket[2] = {-1, -1};

void on_signal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signal_socket[0], &byte, 1);
}

}  // namespace

void on_termination_signals(QObject* context, std::function<void()> action) {
    if (signal_socket[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_socket) != 0)
        return;
    auto* notifier = new QSocketNotifier(signal_socket[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [action = std::move(action)] {
        char byte;
        [[maybe_unused]] auto got = ::read(signal_socket[1], &byte, 1);
        action();
    });
    struct sigaction handler = {};
    handler.sa_handler = on_signal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    // SIGHUP comes when the terminal closes or the user logs out, SIGQUIT from Ctrl+\: both
    // are a request to stop, and the analyser must get its option back all the same.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaction(signal, &handler, nullptr);
}

}  // namespace vantel
