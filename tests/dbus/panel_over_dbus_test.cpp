// SPDX-License-Identifier: MIT
// The panel (in this process, or vantel-dmm as a child) on vantel-analyser over the bus.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <memory>

#include "analyser/backends.h"
#include "bus_fixture.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using namespace testing_support;

using PanelOverDbus = OnPrivateBus;
using ProgramOverDbus = OnPrivateBus;

// A key's write and the poll that reads it back travel the bus in SlowAnalyser
// (hardening_test.cpp); another client's change and a refusal reach the backend as link_test.cpp
// shows, and the meter's tests show what it makes of them.

TEST_F(PanelOverDbus, KilledAnalyserEndsThePanelAtTheNextCycleWithoutAMessage) {
    AnalyserProcess analyser;
    BusPanel p;
    analyser.kill();
    EXPECT_FALSE(p.meter->ended());
    p.work_tick();
    EXPECT_TRUE(p.meter->ended());
    EXPECT_EQ(p.ends, std::vector<int>{3});
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
    p.click(Role::ResponseKey);
    EXPECT_GE(pressed.elapsed(), 1900);
    EXPECT_LT(pressed.elapsed(), 3000);
    EXPECT_FALSE(p.meter->ended());

    p.work_tick();
    EXPECT_TRUE(p.meter->ended());
    EXPECT_EQ(p.ends, std::vector<int>{3});
    EXPECT_TRUE(p.messages.empty());
    analyser.kill();  // it would sleep through its queue of late calls before a SIGTERM
}

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more

struct SignalCase {
    const char* name;
    int signal;
    bool window;  // false: --no-window --log -
};

class StopSignal : public OnPrivateBus, public testing::WithParamInterface<SignalCase> {};

// A closed terminal (SIGHUP), Ctrl+\ (SIGQUIT) and a plain kill all go through the close path,
// with the window or without.
TEST_P(StopSignal, PutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess panel;
    QStringList arguments{QStringLiteral("--analyser"), QStringLiteral("dbus")};
    if (!GetParam().window)
        arguments << QStringLiteral("--no-window") << QStringLiteral("--log")
                  << QStringLiteral("-");
    start_panel(panel, arguments);
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms))
        << "the panel did not start up";
    QTest::qWait(500);  // a few cycles
    ::kill(static_cast<pid_t>(panel.processId()), GetParam().signal);
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0) << panel.readAllStandardError().toStdString();
    expect_odd_settling_option_back();
    if (!GetParam().window) {
        const QList<QByteArray> lines = panel.readAllStandardOutput().split('\n');
        ASSERT_GE(lines.size(), 3) << "a header and at least one row";
        EXPECT_TRUE(lines[0].startsWith("time,seconds,channel,function,reading,unit,display,"));
        EXPECT_TRUE(lines[1].contains(",A,Amplitude,")) << lines[1].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         testing::Values(SignalCase{"Sigterm", SIGTERM, true},
                                         SignalCase{"Sighup", SIGHUP, true},
                                         SignalCase{"Sigquit", SIGQUIT, true},
                                         SignalCase{"NoWindowSigterm", SIGTERM, false},
                                         SignalCase{"NoWindowSigint", SIGINT, false}),
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
