// SPDX-License-Identifier: MIT
#include "app/windows_console.h"

#include <windows.h>

#include <QByteArray>

#include <cstdio>

namespace vantel {

namespace {

bool goes_somewhere(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void attach_to_parent_console() {
    const bool output = goes_somewhere(STD_OUTPUT_HANDLE);
    const bool error = goes_somewhere(STD_ERROR_HANDLE);
    const bool attached = !(output && error) && AttachConsole(ATTACH_PARENT_PROCESS);
    if (attached && !output)
        std::freopen("CONOUT$", "w", stdout);
    if (attached && !error)
        std::freopen("CONOUT$", "w", stderr);
    // Qt sends a Windows program's log lines to the debugger unless told otherwise: they belong
    // on standard error wherever that goes.
    if (error || attached)
        qputenv("QT_FORCE_STDERR_LOGGING", QByteArray("1"));
}

}  // namespace vantel
