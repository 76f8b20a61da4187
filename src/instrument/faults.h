// SPDX-License-Identifier: MIT
#pragma once

// Our analyser's misbehaviour, scripted by tests: a member that fails (at once or
// after some good accesses), an analyser that has gone away, a member that answers with an
// odd value, and slow answers. Members are named by path: "IsInitialised", "UNIT_V",
// "CTDetector" (the fetch of the sub-object itself), "CTDetector.CTD_Unit".

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace vantel::instrument {

class Faults {
public:
    // Reads and writes of `path` succeed `after_accesses` more times, then fail.
    void fail(std::string path, std::string reason, std::size_t after_accesses);
    void set_gone_away(bool gone) { gone_away_ = gone; }
    void override_value(std::string path, Value value);
    // Every access waits `seconds` through `sleep`; an empty one means a real sleep.
    void set_delay(double seconds, std::function<void(double)> sleep);
    void clear();

    // Called at every access before anything else: waits out the delay, then throws the
    // AutomationError the script asks for, if any.
    void on_access(const std::string& path);
    // The odd value reads of `path` give instead of the real one, or null.
    const Value* override_for(const std::string& path) const;

private:
    struct Failure {
        std::string reason;
        std::size_t good_accesses_left;
    };

    std::function<void(double)> sleep_;
    std::map<std::string, Failure, std::less<>> failures_;
    std::map<std::string, Value, std::less<>> overrides_;
    bool gone_away_ = false;
    double delay_s_ = 0.0;
};

}  // namespace vantel::instrument
