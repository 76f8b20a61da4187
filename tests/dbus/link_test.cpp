// SPDX-License-Identifier: MIT
// vantel-analyser as other D-Bus clients see it, and the panel's backend reaching it.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QSignalSpy>

#include <cmath>
#include <csignal>
#include <functional>

#include "automation/dbus_backend.h"
#include "bus_fixture.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;

using namespace testing_support;
using Analyser = OnPrivateBus;
using DbusBackend = OnPrivateBus;

// Waits for the analyser to leave the bus after `stop` (a SIGTERM): it ends cleanly.
void expect_name_freed(const std::function<void()>& stop) {
    QDBusServiceWatcher watcher(u"Vantel.Application"_s, QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForUnregistration);
    QSignalSpy gone(&watcher, &QDBusServiceWatcher::serviceUnregistered);
    stop();
    EXPECT_TRUE(gone.count() > 0 || gone.wait(5000));
}

// Another client sees each member with its natural D-Bus type; a refused write says why and
// changes nothing.
TEST_F(Analyser, OffersNaturalTypesRefusesWithTheReasonAndEndsOnSigterm) {
    AnalyserProcess analyser;
    const struct {
        const char* object;  // "" for the application object
        const char* member;
        QMetaType type;
    } members[] = {
        {"", "IsInitialised", QMetaType::fromType<bool>()},
        {"", "UNIT_DBV", QMetaType::fromType<short>()},
        {"", "CTDetector", QMetaType::fromType<QDBusObjectPath>()},
        {"CTDetector", "CTD_Function", QMetaType::fromType<QString>()},
        {"CTDetector", "CTD_Unit", QMetaType::fromType<short>()},
        {"CTDetector", "CTD_ChB", QMetaType::fromType<double>()},
        {"DigitalInputs", "DI_FrameRate", QMetaType::fromType<int>()},
        {"Options", "OPT_UseSettlingsFromScripts", QMetaType::fromType<bool>()},
        {"Generator", "GEN_Frequency", QMetaType::fromType<double>()},
        {"Generator", "GEN_Level", QMetaType::fromType<double>()},
        {"Generator", "GEN_On", QMetaType::fromType<bool>()},
        {"", "STATUS_NO_INPUT", QMetaType::fromType<short>()},
        {"SignalAnalyzer", "SA_Status", QMetaType::fromType<int>()},
        {"SignalAnalyzer", "SA_SourceName", QMetaType::fromType<QString>()},
        {"SignalAnalyzer", "SA_InvalidSamples", QMetaType::fromType<qlonglong>()},
        {"AnalogueInputs", "AI_FullScaleA", QMetaType::fromType<double>()},
        {"AnalogueInputs", "AI_FullScaleB", QMetaType::fromType<double>()},
    };
    for (const auto& m : members) {
        const QVariant v =
            read_property(QString::fromLatin1(m.object), QString::fromLatin1(m.member));
        EXPECT_EQ(v.metaType(), m.type) << m.member << ": " << v.metaType().name();
    }
    EXPECT_EQ(read_property({}, u"DigitalInputs"_s).value<QDBusObjectPath>().path(),
              u"/Vantel/Application/DigitalInputs"_s);
    EXPECT_EQ(read_property({}, u"UNIT_DBV"_s).toInt(), 66);

    const QDBusMessage refused = write_property(u"CTDetector"_s, u"CTD_Unit"_s, short{99});
    EXPECT_EQ(refused.errorName(), u"Vantel.Error.Refused"_s);
    EXPECT_EQ(refused.errorMessage(), u"CTD_Unit: 99 is not a unit code"_s);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Unit"_s).toInt(), 20);
    // A channel's calibration is set over the bus; one that is no full scale is refused.
    ASSERT_EQ(write_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s, 2.5).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(read_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s).toDouble(), 2.5);
    for (double not_a_full_scale : {0.0, -1.0, std::nan("")}) {
        const QDBusMessage answer =
            write_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s, not_a_full_scale);
        EXPECT_EQ(answer.errorName(), u"Vantel.Error.Refused"_s) << not_a_full_scale;
        EXPECT_TRUE(answer.errorMessage().startsWith(u"AI_FullScaleA: "_s));
    }
    EXPECT_EQ(read_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s).toDouble(), 2.5);
    EXPECT_EQ(write_property(u"DigitalInputs"_s, u"DI_FrameRate"_s, 1).errorName(),
              u"org.freedesktop.DBus.Error.PropertyReadOnly"_s);
    EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Nothing"_s, 1).errorName(),
              u"org.freedesktop.DBus.Error.UnknownProperty"_s);
    QDBusMessage get =
        QDBusMessage::createMethodCall(u"Vantel.Application"_s, u"/Vantel/Application/CTDetector"_s,
                                       u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    get << u"Vantel.Nothing"_s << u"CTD_Unit"_s;
    EXPECT_EQ(QDBusConnection::sessionBus().call(get).errorName(),
              u"org.freedesktop.DBus.Error.UnknownInterface"_s);
    expect_name_freed([&] { EXPECT_EQ(analyser.terminate(), 0); });
}

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
    // Stopped, so that the next test finds the name free.
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(u"Vantel.Application"_s);
    ASSERT_TRUE(pid.isValid());
    expect_name_freed([&] { ::kill(static_cast<pid_t>(pid.value()), SIGTERM); });
}

}  // namespace
}  // namespace vantel
