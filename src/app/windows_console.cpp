// SPDX-License-Identifier: MIT
#include "app/windows_console.h"

#include <windows.h>

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
    if ((output && error) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!output)
        std::freopen("CONOUT$", "w", stdout);
    if (!error)
        std::freopen("CONOUT$", "w", stderr);
}

}  // namespace vantel
