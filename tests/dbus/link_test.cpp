// SPDX-License-Identifier: MIT
// vantel-analyser as other D-Bus clients see it, and the panel's backend reaching it.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QSignalSpy>

#include <csignal>

#include "analyser/dbus_backend.h"
#include "bus_fixture.h"

namespace vantel {
namespace {

using namespace testing_support;

using Analyser = OnPrivateBus;
using DbusBackend = OnPrivateBus;

// Another program (a script, a second panel) sees each member with its natural D-Bus type.
TEST_F(Analyser, OffersEachMemberWithItsNaturalType) {
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
    };
    for (const auto& m : members) {
        SCOPED_TRACE(m.member);
        const QVariant v =
            read_property(QString::fromLatin1(m.object), QString::fromLatin1(m.member));
        EXPECT_EQ(v.metaType(), m.type) << v.metaType().name();
    }
    EXPECT_EQ(read_property({}, QStringLiteral("DigitalInputs")).value<QDBusObjectPath>().path(),
              QStringLiteral("/Vantel/Application/DigitalInputs"));
    EXPECT_EQ(read_property({}, QStringLiteral("UNIT_DBV")).toInt(), 66);
}

TEST_F(Analyser, RefusesWithTheReasonAndKeepsItsSetting) {
    AnalyserProcess analyser;
    const QDBusMessage refused =
        write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Unit"), short{99});
    EXPECT_EQ(refused.errorName(), QStringLiteral("Vantel.Error.Refused"));
    EXPECT_EQ(refused.errorMessage(), QStringLiteral("CTD_Unit: 99 is not a unit code"));
    EXPECT_EQ(read_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Unit")).toInt(), 20);

    EXPECT_EQ(write_property(QStringLiteral("DigitalInputs"), QStringLiteral("DI_FrameRate"), 1)
                  .errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"));
    EXPECT_EQ(
        write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Nothing"), 1).errorName(),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"));
}

TEST_F(Analyser, SigtermEndsItCleanlyAndFreesTheName) {
    AnalyserProcess analyser;
    QDBusServiceWatcher watcher(QStringLiteral("Vantel.Application"), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForUnregistration);
    QSignalSpy gone(&watcher, &QDBusServiceWatcher::serviceUnregistered);
    EXPECT_EQ(analyser.terminate(), 0);
    EXPECT_TRUE(gone.count() > 0 || gone.wait(5000));
}

struct Counted {
    std::shared_ptr<DbusLinkCounters> counters = std::make_shared<DbusLinkCounters>();
    ObjectRef app;

    explicit Counted(bool resolve_once) {
        app = attach_dbus_application("Vantel.Application",
                                      {.resolve_constants_once = resolve_once}, counters);
    }
    // Round trips for three reads of a named constant and three of a detector setting.
    std::uint64_t round_trips_for_reads() {
        const std::uint64_t before = counters->round_trips;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(app->get("UNIT_DBV"), Value(66));
            EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Response"), Value(0));
        }
        return counters->round_trips - before;
    }
};

TEST_F(DbusBackend, AsksConstantsAndSubObjectPathsOnceButSettingsEveryTime) {
    AnalyserProcess analyser;
    // Once each for the constant and the detector's path, then the setting three times.
    EXPECT_EQ(Counted(true).round_trips_for_reads(), 1u + 1u + 3u);
    // Every access a round trip: three constants, three fetches of the detector, three reads.
    EXPECT_EQ(Counted(false).round_trips_for_reads(), 9u);

    // A setting changed by someone else is seen at the next read.
    Counted panel(true);
    ASSERT_EQ(write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Response"), short{3})
                  .type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(get_member(*panel.app, "CTDetector", "CTD_Response"), Value(3));
}

// What the panel is told when an access fails: the member, then the bus's reason.
TEST_F(DbusBackend, FailuresNameTheMemberAndTheReason) {
    AnalyserProcess analyser;
    ObjectRef app = attach_dbus_application();
    try {
        set_member(*app, "CTDetector", "CTD_Unit", Value(99));
        ADD_FAILURE() << "the analyser took 99";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_EQ(e.reason(), "99 is not a unit code (Vantel.Error.Refused)");
    }

    analyser.control("FailMember",
                     {QStringLiteral("CTDetector.CTD_Relativity"), QStringLiteral("busy"), 0u});
    try {
        get_member(*app, "CTDetector", "CTD_Relativity");
        ADD_FAILURE() << "the read succeeded";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Relativity");
        EXPECT_EQ(e.reason(), "busy (Vantel.Error.Failed)");
    }

    analyser.control("SetAccessDelay", {2.5});
    try {
        app->get("IsInitialised");
        ADD_FAILURE() << "a slow answer counted as one";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.what(), std::string("IsInitialised: no answer within 2000 ms "
                                        "(org.freedesktop.DBus.Error.NoReply)"));
    }
    analyser.kill();  // it would sleep through the late call before taking a SIGTERM
}

// The panel set up this analyser's option; a newcomer on the name is not the same analyser.
TEST_F(DbusBackend, StaysWithTheAnalyserItAttachedTo) {
    auto first = std::make_unique<AnalyserProcess>();
    ObjectRef app = attach_dbus_application();
    ObjectRef detector = get_object(*app, "CTDetector");
    first->kill();
    AnalyserProcess second;
    try {
        detector->get("CTD_Unit");
        ADD_FAILURE() << "the read reached the second analyser";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.reason(),
                  "the analyser has left the bus (org.freedesktop.DBus.Error.ServiceUnknown)");
    }
    EXPECT_THROW(app->get("IsInitialised"), AutomationError);
}

TEST_F(DbusBackend, ActivationStartsTheAnalyserWhenNothingHasTheName) {
    PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    ObjectRef app;
    EXPECT_NO_THROW(app = attach_dbus_application());
    PrivateBus::instance().remove_service();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->get("IsInitialised"), Value(AutoBool::True));

    // Stop it, so that the next test finds the name free (it would end with its bus anyway).
    QDBusServiceWatcher watcher(QStringLiteral("Vantel.Application"), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForUnregistration);
    QSignalSpy gone(&watcher, &QDBusServiceWatcher::serviceUnregistered);
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("Vantel.Application"));
    ASSERT_TRUE(pid.isValid());
    ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
    EXPECT_TRUE(gone.wait(5000));
}

}  // namespace
}  // namespace vantel
