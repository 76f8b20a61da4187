// SPDX-License-Identifier: MIT
// Member access through sub-objects. The access log (RecordingObject) is checked wherever the
// panel's tests compare reads and writes with it: the update cycle's read order, the keys'
// writes, the start-up's failed option read and write.
#include <gtest/gtest.h>

#include "analyser/automation.h"

namespace vantel {
namespace {

// A backend's sub-object may name only the member; the failure still names the whole path.
TEST(Automation, FailureInASubObjectNamesTheWholePath) {
    struct Object final : AutomationObject {
        Value get(std::string_view member) override {
            if (member == "Sub")
                return Value(ObjectRef(std::make_shared<Object>()));
            throw AutomationError(std::string(member), "no such member");
        }
        void set(std::string_view member, const Value&) override {
            throw AutomationError(std::string(member), "read-only");
        }
    } app;
    auto failed_member = [](auto access) {
        try {
            access();
        } catch (const AutomationError& e) {
            return e.member();
        }
        return std::string("nothing failed");
    };
    EXPECT_EQ(failed_member([&] { get_member(app, "Sub", "Level"); }), "Sub.Level");
    EXPECT_EQ(failed_member([&] { set_member(app, "Sub", "Level", Value(1)); }), "Sub.Level");
}

}  // namespace
}  // namespace vantel
