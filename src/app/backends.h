// SPDX-License-Identifier: MIT
#pragma once

// Picking the analyser to attach to, by backend name: the program's --analyser option and the
// tests both come through here, so every backend is reached the same way.

#include <span>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace vantel {

struct BackendInfo {
    std::string_view name;         // as given on the command line: "sim"
    std::string_view description;  // one line for --help
    bool self_contained;           // needs nothing outside this program (no analyser process)
};

// Every backend this build knows, in the order --help lists them.
std::span<const BackendInfo> known_backends();

// The backend used when the command line names none: "com" on Windows, where the analyser
// application runs, and "auto" elsewhere.
std::string_view default_backend();

// What "auto" stands for on this machine now: "dbus" when the analyser application is on the
// session bus or the bus can start it (an installed analyser), else "sim", the analyser built
// into this program. Any other known name stands for itself; an unknown one throws
// AutomationError listing the known ones. `why` says why, for the log.
struct BackendChoice {
    std::string backend;
    std::string why;
};
BackendChoice choose_backend(std::string_view requested,
                             std::string_view prog_id = "Vantel.Application");

// The application object `prog_id` from `backend`; "sim" gives a new built-in analyser, "dbus"
// the analyser application on the session bus, "com" (on Windows) the running analyser
// application. Throws AutomationError naming the backend or the identifier when either is
// unknown, and when the analyser cannot be reached.
ObjectRef obtain_application(std::string_view backend,
                             std::string_view prog_id = "Vantel.Application");

}  // namespace vantel
