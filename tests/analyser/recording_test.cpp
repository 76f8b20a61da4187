// SPDX-License-Identifier: MIT
#include "analyser/recording.h"

#include <gtest/gtest.h>

#include "analyser/automation.h"
#include "simulator/simulator.h"

namespace vantel {
namespace {

TEST(Recording, LogsEveryAccessInOrderWithSubObjectPathsAndPassesFailuresOn) {
    Simulator sim;
    auto log = std::make_shared<AccessLog>();
    ObjectRef app = sim.recording_application(log);
    sim.fail_member("CTDetector.CTD_Relativity");

    EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Response"), Value(std::int64_t{0}));
    set_member(*app, "CTDetector", "CTD_Response", Value(2));
    EXPECT_THROW(app->get("Missing"), AutomationError);
    try {
        set_member(*app, "CTDetector", "CTD_Relativity", Value(3));
        FAIL() << "a failing member was written";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Relativity");
    }
    EXPECT_EQ(*log, (AccessLog{"get CTDetector", "get CTDetector.CTD_Response", "get CTDetector",
                               "set CTDetector.CTD_Response = 2", "get Missing -> failed",
                               "get CTDetector", "set CTDetector.CTD_Relativity = 3 -> failed"}));
    EXPECT_EQ(get_member(*sim.application(), "CTDetector", "CTD_Response"), Value(std::int64_t{2}));
}

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
