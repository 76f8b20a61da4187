// SPDX-License-Identifier: MIT
#pragma once

// Checks for the plain Windows test programs (Debian has no GoogleTest for mingw-w64): each
// failed check prints its line, and run_groups counts a group that throws as one failure.

#include <cstdio>
#include <exception>
#include <initializer_list>
#include <source_location>
#include <string>

#include "automation/automation.h"

namespace vantel::plain_check {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const std::string& what,
                  std::source_location where = std::source_location::current()) {
    ok ? ++passed : ++failed;
    if (!ok)
        std::printf("FAILED line %u: %s\n", static_cast<unsigned>(where.line()), what.c_str());
}

// `action` must throw AutomationError naming `member`, with `words` in its reason.
template <typename Action>
void check_refused(Action action, const std::string& member, const std::string& words,
                   std::source_location where = std::source_location::current()) {
    try {
        action();
        check(false, member + " was not refused", where);
    } catch (const AutomationError& e) {
        check(e.member() == member && e.reason().find(words) != std::string::npos,
              "wanted " + member + " / " + words + ", got: " + e.what(), where);
    }
}

// Runs every group; the exit code of the program.
inline int run_groups(std::initializer_list<void (*)()> groups) {
    for (void (*group)() : groups) {
        try {
            group();
        } catch (const std::exception& e) {
            ++failed;
            std::printf("FAILED: %s\n", e.what());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace vantel::plain_check
