// SPDX-License-Identifier: MIT
// Picking the analyser backend by name, and member access through sub-objects. The access log
// (RecordingObject) is checked wherever the panel's tests compare reads and writes with it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/backends.h"
#include "automation/automation.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::thrown;

// Backends that reach an analyser process are tried against one in tests/dbus. The default is
// one this build knows.
TEST(Backends, EverySelfContainedBackendGivesANewApplication) {
    bool default_known = false;
    for (const BackendInfo& b : known_backends()) {
        SCOPED_TRACE(std::string(b.name));
        EXPECT_FALSE(b.description.empty());
        default_known = default_known || b.name == default_backend();
        if (!b.self_contained)
            continue;
        ObjectRef first = obtain_application(b.name), second = obtain_application(b.name);
        ASSERT_TRUE(first && second);
        set_member(*first, "CTDetector", "CTD_Response", Value(2));
        EXPECT_EQ(get_member(*second, "CTDetector", "CTD_Response"), Value(std::int64_t{0}));
    }
    EXPECT_TRUE(default_known) << default_backend();
}

TEST(Backends, UnknownBackendOrIdentifierIsRefusedByName) {
    using ::testing::HasSubstr;
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("gpib"); }),
                ::testing::AllOf(HasSubstr("gpib"), HasSubstr("sim")));
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("sim", "Vantel.Generator"); }),
                ::testing::StartsWith("Vantel.Generator: "));
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
    EXPECT_THAT(thrown<AutomationError>([&] { get_member(app, "Sub", "Level"); }),
                ::testing::StartsWith("Sub.Level: no such member"));
    EXPECT_THAT(thrown<AutomationError>([&] { set_member(app, "Sub", "Level", Value(1)); }),
                ::testing::StartsWith("Sub.Level: read-only"));
}

}  // namespace
}  // namespace vantel
