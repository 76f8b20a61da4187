// SPDX-License-Identifier: MIT
#include "automation/recording.h"

namespace vantel {

RecordingObject::RecordingObject(ObjectRef inner, std::shared_ptr<AccessLog> log,
                                 std::string prefix)
    : inner_(std::move(inner)), log_(std::move(log)), prefix_(std::move(prefix)) {}

Value RecordingObject::get(std::string_view member) {
    std::string line = "get " + prefix_ + std::string(member);
    Value v;
    try {
        v = inner_->get(member);
    } catch (const AutomationError&) {
        log_->push_back(line + " -> failed");
        throw;
    }
    log_->push_back(std::move(line));
    if (v.kind() == Value::Kind::Object && v.as_object()) {
        return Value(ObjectRef(std::make_shared<RecordingObject>(
            v.as_object(), log_, prefix_ + std::string(member) + ".")));
    }
    return v;
}

void RecordingObject::set(std::string_view member, const Value& value) {
    std::string line = "set " + prefix_ + std::string(member) + " = " + value.describe();
    try {
        inner_->set(member, value);
    } catch (const AutomationError&) {
        log_->push_back(line + " -> failed");
        throw;
    }
    log_->push_back(std::move(line));
}

}  // namespace vantel
