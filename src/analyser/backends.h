// SPDX-License-Identifier: MIT
#pragma once

// Picking the analyser to attach to, by backend name: the program's --analyser option and the
// tests both come through here, so every backend is reached the same way.

#include <span>
#include <string_view>

#include "analyser/automation.h"

namespace vantel {

struct BackendInfo {
    std::string_view name;         // as given on the command line: "sim"
    std::string_view description;  // one line for --help
    bool self_contained;           // needs nothing outside this program (no analyser process)
};

// Every backend this build knows, in the order --help lists them.
std::span<const BackendInfo> known_backends();

// The application object `prog_id` from `backend`; "sim" gives a new simulated analyser. Throws
// AutomationError naming the backend or the identifier when either is unknown.
ObjectRef obtain_application(std::string_view backend,
                             std::string_view prog_id = "Vantel.Application");

}  // namespace vantel
