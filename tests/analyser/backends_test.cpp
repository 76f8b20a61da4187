// SPDX-License-Identifier: MIT
// Picking the analyser backend by name.
#include <gtest/gtest.h>

#include "analyser/automation.h"
#include "analyser/backends.h"

namespace vantel {
namespace {

// Backends that reach an analyser process are tried against one in tests/dbus.
TEST(Backends, EverySelfContainedBackendGivesANewApplication) {
    ASSERT_FALSE(known_backends().empty());
    for (const BackendInfo& b : known_backends()) {
        SCOPED_TRACE(std::string(b.name));
        EXPECT_FALSE(b.description.empty());
        if (!b.self_contained)
            continue;
        ObjectRef first = obtain_application(b.name), second = obtain_application(b.name);
        ASSERT_TRUE(first && second);
        set_member(*first, "CTDetector", "CTD_Response", Value(2));
        EXPECT_EQ(get_member(*second, "CTDetector", "CTD_Response"), Value(std::int64_t{0}));
    }
}

TEST(Backends, TheDefaultIsOneThisBuildKnows) {
    bool known = false;
    for (const BackendInfo& b : known_backends())
        known = known || b.name == default_backend();
    EXPECT_TRUE(known) << default_backend();
}

TEST(Backends, UnknownBackendOrIdentifierIsRefusedByName) {
    try {
        obtain_application("gpib");
        FAIL() << "an unknown backend gave an application";
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("gpib"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("sim"), std::string::npos) << e.what();
    }
    try {
        obtain_application("sim", "Vantel.Generator");
        FAIL() << "an unknown identifier gave an application";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "Vantel.Generator");
    }
}

}  // namespace
}  // namespace vantel
