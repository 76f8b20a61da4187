// SPDX-License-Identifier: MIT
#pragma once

// The analyser's members by name from the command line: --set NAME=VALUE writes one before the
// first reading, --list-members prints what the analyser offers. Both go through the automation
// interface only, so they work the same with every backend.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace vantel {

struct MemberWrite {
    std::string given;   // "CTD_Unit=UNIT_DBU", for messages
    std::string object;  // the sub-object: "CTDetector"
    std::string member;  // "CTD_Unit"
    std::string value;   // "UNIT_DBU", resolved when written
};

// NAME=VALUE. NAME is a member as the automation interface names it: its prefix says which
// sub-object has it (CTD_ the CTDetector, SA_ the SignalAnalyzer, AI_ the AnalogueInputs, DI_
// the DigitalInputs, GEN_ the Generator), or it is given as OBJECT.MEMBER. Nothing and `error`
// when the text is not that, or names the option the panel itself keeps and restores.
std::optional<MemberWrite> parse_member_write(std::string_view text, std::string& error);

// What a --set VALUE stands for: "true" or "false" (in any case) the automation Boolean; a decimal
// number a whole number or a double; a name written as the analyser writes its constants
// ("UNIT_DBU") the value the analyser gives that constant now, read from `app` (an
// AutomationError when it has none); anything else the text itself.
Value resolve_value(AutomationObject& app, std::string_view value);

// Writes each in the order given. Throws AutomationError saying which --set the analyser refused
// and why; the writes before it stay done.
void apply_writes(AutomationObject& app, const std::vector<MemberWrite>& writes);

// Every member of the application object and of its sub-objects, with its type and whether it
// may be written, then every named constant with its type and value. Throws AutomationError
// when the analyser does not describe its members.
std::string member_listing(AutomationObject& app);

}  // namespace vantel
