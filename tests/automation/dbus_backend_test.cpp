// SPDX-License-Identifier: MIT
// The panel's D-Bus backend reaching vantel-analyser on the private bus.
#include <gtest/gtest.h>

#include "automation/dbus_backend.h"
#include "private_bus.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using DbusBackend = OnPrivateBus;

// Round trips for three reads of a named constant and three of a detector setting.
std::uint64_t round_trips_for_reads(bool resolve_once) {
    auto counters = std::make_shared<DbusLinkCounters>();
    ObjectRef app = attach_dbus_application("Vantel.Application",
                                            {.resolve_constants_once = resolve_once}, counters);
    const std::uint64_t before = counters->round_trips;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(app->get("UNIT_DBV"), Value(66));
        EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Response"), Value(0));
    }
    return counters->round_trips - before;
}

// Constants and sub-object paths are asked once, settings every time (another client may change
// them). A failure names the member, then the bus's reason.
TEST_F(DbusBackend, AsksConstantsOnceSettingsEveryTimeAndNamesWhatFailedAndWhy) {
    AnalyserProcess analyser;
    // Once each for the constant and the detector's path, then the setting three times.
    EXPECT_EQ(round_trips_for_reads(true), 1u + 1u + 3u);
    // Every access a round trip: three constants, three fetches of the detector, three reads.
    EXPECT_EQ(round_trips_for_reads(false), 9u);
    ObjectRef app = attach_dbus_application();
    EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Response"), Value(0));
    ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Response"_s, short{3}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Response"), Value(3));

    const auto failure = [](auto access) { return thrown<AutomationError>(access); };
    EXPECT_EQ(failure([&] { set_member(*app, "CTDetector", "CTD_Unit", Value(99)); }),
              "CTDetector.CTD_Unit: 99 is not a unit code (Vantel.Error.Refused)");
    analyser.control("FailMember", {u"CTDetector.CTD_Relativity"_s, u"busy"_s, 0u});
    EXPECT_EQ(failure([&] { get_member(*app, "CTDetector", "CTD_Relativity"); }),
              "CTDetector.CTD_Relativity: busy (Vantel.Error.Failed)");
    analyser.control("SetAccessDelay", {2.5});
    EXPECT_EQ(failure([&] { app->get("IsInitialised"); }),
              "IsInitialised: no answer within 2000 ms (org.freedesktop.DBus.Error.NoReply)");
    analyser.kill();  // it would sleep through the late call before taking a SIGTERM
}

// The panel set up this analyser's option; a newcomer on the name is not the same analyser.
TEST_F(DbusBackend, StaysWithTheAnalyserItAttachedTo) {
    auto first = std::make_unique<AnalyserProcess>();
    ObjectRef app = attach_dbus_application();
    ObjectRef detector = get_object(*app, "CTDetector");
    first->kill();
    AnalyserProcess second;
    EXPECT_EQ(
        thrown([&] { detector->get("CTD_Unit"); }),
        "CTD_Unit: the analyser has left the bus (org.freedesktop.DBus.Error.ServiceUnknown)");
    EXPECT_THROW(app->get("IsInitialised"), AutomationError);
}

TEST_F(DbusBackend, ActivationStartsTheAnalyserWhenNothingHasTheName) {
    PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    ObjectRef app;
    EXPECT_NO_THROW(app = attach_dbus_application());
    PrivateBus::instance().install_service({});
    ASSERT_TRUE(app);
    EXPECT_EQ(app->get("IsInitialised"), Value(AutoBool::True));
    EXPECT_TRUE(stop_activated_analyser()) << "so that the next test finds the name free";
}

}  // namespace
}  // namespace vantel
