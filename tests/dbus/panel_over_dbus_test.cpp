// SPDX-License-Identifier: MIT
// The panel (in this process, or vantel-dmm as a child) on vantel-analyser over the bus.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <csignal>
#include <memory>

#include "analyser/backends.h"
#include "bus_fixture.h"
#include "panel/form1.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace testing_support;

using PanelOverDbus = OnPrivateBus;
using ProgramOverDbus = OnPrivateBus;

QString detector_setting(const char* member) {
    return gdbus({QStringLiteral("--object-path"), QStringLiteral("/Vantel/Application/CTDetector"),
                  QStringLiteral("--method"), QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                  QStringLiteral("Vantel.CTDetector"), QString::fromLatin1(member)});
}

TEST_F(PanelOverDbus, FollowsAnotherClientAndWritesItsKeysIntoTheAnalyser) {
    AnalyserProcess analyser;
    BusPanel p;
    EXPECT_EQ(p.form->Current_Unit, 20);

    gdbus({QStringLiteral("--object-path"), QStringLiteral("/Vantel/Application/CTDetector"),
           QStringLiteral("--method"), QStringLiteral("org.freedesktop.DBus.Properties.Set"),
           QStringLiteral("Vantel.CTDetector"), QStringLiteral("CTD_Unit"),
           QStringLiteral("<int16 23>")});
    p.work_tick();
    EXPECT_EQ(p.form->Current_Unit, 23);
    EXPECT_EQ(p.text("Label9"), QStringLiteral("dBu"));

    p.click("Units2_Button");  // dBu steps to dBV
    EXPECT_EQ(detector_setting("CTD_Unit"), QStringLiteral("(<int16 66>,)"));
    p.work_tick();
    EXPECT_EQ(p.text("Label9"), QStringLiteral("dBV"));
    EXPECT_FALSE(p.form->ended());
}

TEST_F(PanelOverDbus, KilledAnalyserEndsThePanelAtTheNextCycleWithoutAMessage) {
    AnalyserProcess analyser;
    BusPanel p;
    analyser.kill();
    EXPECT_FALSE(p.form->ended());
    p.work_tick();
    EXPECT_TRUE(p.form->ended());
    EXPECT_EQ(p.ends, std::vector<int>{3});
    EXPECT_TRUE(p.messages.empty());
}

TEST_F(PanelOverDbus, RefusedKeyIsIgnoredAndThePanelShowsWhatTheAnalyserReports) {
    AnalyserProcess analyser;
    // Frequency reads only in Hz, so the units key's first step (V) is refused.
    ASSERT_EQ(write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Function"),
                             QStringLiteral("Frequency"))
                  .type(),
              QDBusMessage::ReplyMessage);
    BusPanel p;
    ASSERT_EQ(p.form->Current_Unit, 10);

    p.click("Units2_Button");
    EXPECT_EQ(p.text("Label9"), QStringLiteral(" - - "));  // the key did act
    EXPECT_FALSE(p.form->ended());
    EXPECT_TRUE(analyser.log().contains(QStringLiteral("refused CTD_Unit = 20")));
    EXPECT_EQ(detector_setting("CTD_Unit"), QStringLiteral("(<int16 10>,)"));
    p.work_tick();
    EXPECT_TRUE(p.text("Label9").endsWith(QStringLiteral("Hz"))) << p.text("Label9").toStdString();
    EXPECT_EQ(p.form->Current_Unit, 10);
    EXPECT_FALSE(p.form->ended());
    EXPECT_TRUE(p.messages.empty());
}

// An analyser that has stopped answering holds a key for the call time-out, no longer, and the
// next cycle ends the panel with its own exit code.
TEST_F(PanelOverDbus, DeafAnalyserHoldsAKeyForTheTimeOutAndEndsThePanel) {
    AnalyserProcess analyser;
    BusPanel p;
    analyser.control("SetAccessDelay", {5.0});

    QElapsedTimer pressed;
    pressed.start();
    p.click("Resp_button");
    EXPECT_GE(pressed.elapsed(), 1900);
    EXPECT_LT(pressed.elapsed(), 3000);
    EXPECT_FALSE(p.form->ended());

    p.work_tick();
    EXPECT_TRUE(p.form->ended());
    EXPECT_EQ(p.ends, std::vector<int>{3});
    EXPECT_TRUE(p.messages.empty());
    analyser.kill();  // it would sleep through its queue of late calls before a SIGTERM
}

enum class Closer { OffKey, CloseBox };

struct CloseCase {
    const char* name;
    Closer closer;
};

class ShutDownOverDbus : public OnPrivateBus, public testing::WithParamInterface<CloseCase> {};

TEST_P(ShutDownOverDbus, PutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    BusPanel p;
    EXPECT_TRUE(settling_option_is_off());
    if (GetParam().closer == Closer::OffKey) {
        p.click("OFF_button");
    } else {
        QCloseEvent close_box;  // what the window system sends for the close box
        QCoreApplication::sendEvent(p.form->windowHandle(), &close_box);
    }
    EXPECT_TRUE(p.form->ended());
    expect_odd_settling_option_back();
}

INSTANTIATE_TEST_SUITE_P(Closers, ShutDownOverDbus,
                         testing::Values(CloseCase{"OffKey", Closer::OffKey},
                                         CloseCase{"CloseBox", Closer::CloseBox}),
                         RowName());

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more

struct SignalCase {
    const char* name;
    int signal;
};

class StopSignal : public OnPrivateBus, public testing::WithParamInterface<SignalCase> {};

// A closed terminal (SIGHUP), Ctrl+\ (SIGQUIT) and a plain kill all go through the close path.
TEST_P(StopSignal, PutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess panel;
    start_panel(panel, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms))
        << "the panel did not start up";
    ::kill(static_cast<pid_t>(panel.processId()), GetParam().signal);
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0);
    expect_odd_settling_option_back();
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         testing::Values(SignalCase{"Sigterm", SIGTERM},
                                         SignalCase{"Sighup", SIGHUP},
                                         SignalCase{"Sigquit", SIGQUIT}),
                         RowName());

TEST_F(ProgramOverDbus, WithoutAnAnalyserEndsAtOnceNamingTheService) {
    QProcess panel;
    start_panel(panel, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms)) << "the panel waits for nothing";
    EXPECT_EQ(panel.exitCode(), 2);
    EXPECT_TRUE(panel.readAllStandardError().contains(
        "vantel-dmm: Vantel.Application: no analyser on the D-Bus session bus"));
}

}  // namespace
}  // namespace vantel
