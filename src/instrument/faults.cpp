// SPDX-License-Identifier: MIT
#include "instrument/faults.h"

#include <chrono>
#include <thread>
#include <utility>

namespace vantel::instrument {

namespace {

void real_sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace

void Faults::set_delay(double seconds, std::function<void(double)> sleep) {
    delay_s_ = seconds;
    sleep_ = sleep ? std::move(sleep) : std::function<void(double)>(real_sleep);
}

void Faults::fail(std::string path, std::string reason, std::size_t after_accesses) {
    failures_.insert_or_assign(std::move(path), Failure{std::move(reason), after_accesses});
}

void Faults::override_value(std::string path, Value value) {
    overrides_.insert_or_assign(std::move(path), std::move(value));
}

void Faults::clear() {
    failures_.clear();
    overrides_.clear();
    gone_away_ = false;
    delay_s_ = 0.0;
}

void Faults::on_access(const std::string& path) {
    if (delay_s_ > 0.0)
        sleep_(delay_s_);
    if (gone_away_)
        throw AutomationError(path, "the analyser has gone away");
    auto it = failures_.find(path);
    if (it == failures_.end())
        return;
    if (it->second.good_accesses_left > 0) {
        --it->second.good_accesses_left;
        return;
    }
    throw AutomationError(path, it->second.reason);
}

const Value* Faults::override_for(const std::string& path) const {
    auto it = overrides_.find(path);
    return it == overrides_.end() ? nullptr : &it->second;
}

}  // namespace vantel::instrument
