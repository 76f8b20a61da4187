// SPDX-License-Identifier: MIT
#pragma once

// A transparent wrapper that logs every member access of an analyser object, and of every
// sub-object fetched through it, in the order in which they happen. Tests use the log to check
// the order of reads and writes, which is part of the panel's behaviour.

#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"

namespace vantel {

// One line per access: "get CTDetector", "get CTDetector.CTD_Unit",
// "set CTDetector.CTD_Unit = 21"; a failed access ends in " -> failed".
using AccessLog = std::vector<std::string>;

class RecordingObject final : public AutomationObject {
public:
    RecordingObject(ObjectRef inner, std::shared_ptr<AccessLog> log, std::string prefix = {});

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;
    std::vector<MemberInfo> members() override { return inner_->members(); }

private:
    ObjectRef inner_;
    std::shared_ptr<AccessLog> log_;
    std::string prefix_;
};

}  // namespace vantel
