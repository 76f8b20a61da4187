// SPDX-License-Identifier: MIT
// The panel (in this process, or vantel-dmm as a child) on vantel-analyser over the bus, and
// vantel-dmm with --no-window and --log on the built-in analyser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>

#include "bus_fixture.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;

using namespace testing_support;
using ::testing::HasSubstr;

using PanelOverDbus = OnPrivateBus;

// A killed analyser ends the panel at the next cycle; a deaf one holds a key for the call
// time-out, no longer, and the next cycle ends it. Either way with exit code 3 and no message.
TEST_F(PanelOverDbus, KilledOrDeafAnalyserEndsThePanelAtTheNextCycleWithoutAMessage) {
    for (bool deaf : {false, true}) {
        SCOPED_TRACE(deaf ? "deaf" : "killed");
        AnalyserProcess analyser;
        BusPanel p;
        if (deaf) {
            analyser.control("SetAccessDelay", {5.0});
            QElapsedTimer pressed;
            pressed.start();
            p.click(Role::ResponseKey);
            EXPECT_GE(pressed.elapsed(), 1900);
            EXPECT_LT(pressed.elapsed(), 3000);
        } else {
            analyser.kill();
        }
        EXPECT_FALSE(p.meter->ended());
        p.work_tick();
        EXPECT_TRUE(p.meter->ended());
        EXPECT_EQ(p.ends, std::vector<int>{3});
        EXPECT_TRUE(p.messages.empty());
        analyser.kill();  // a deaf one would sleep through its queue of late calls first
    }
}

struct SignalCase {
    const char* name;
    int signal;
    bool window;  // false: --no-window --log -
};

class StopSignal : public OnPrivateBus, public testing::WithParamInterface<SignalCase> {};

// A closed terminal, Ctrl+\ and a plain kill all take the close path, with a window or without.
TEST_P(StopSignal, PutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess panel;
    QStringList arguments{u"--analyser"_s, u"dbus"_s};
    if (!GetParam().window)
        arguments << u"--no-window"_s << u"--log"_s << u"-"_s;
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
                         testing::Values(SignalCase{"Sighup", SIGHUP, true},
                                         SignalCase{"Sigquit", SIGQUIT, true},
                                         SignalCase{"NoWindowSigterm", SIGTERM, false},
                                         SignalCase{"NoWindowSigint", SIGINT, false}),
                         RowName());

constexpr int kColumns = 16;

// vantel-dmm without a window on `analyser`, logging to `log`.
QStringList headless(const QString& log, const char* analyser = "sim") {
    return {u"--no-window"_s, u"--analyser"_s, QString::fromLatin1(analyser), u"--log"_s, log};
}

// SIGKILL gives the program no chance to tidy up: every row written is whole all the same.
TEST(Log, AProcessKilledOutrightLeavesOnlyWholeRows) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"run.csv"_s);
    QProcess panel;
    start_panel(panel, headless(path));
    QFile file(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return file.size() > 2000; }, kChildTimeout_ms))
        << panel.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(panel.processId()), SIGKILL);
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    const QByteArray last = lines.takeLast();  // empty after a whole row, else a part of one
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0],
              "time,seconds,channel,function,reading,unit,display,minimum,maximum,"
              "weighting,response,relativity,input,held,status,source\r");
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        EXPECT_EQ(line.count(','), kColumns - 1) << line.toStdString();
    }
    EXPECT_LT(last.count(','), kColumns) << last.toStdString();
}

// No analyser on the bus, a log that cannot be opened, or --input with another analyser: the
// program ends at once saying why.
TEST_F(PanelOverDbus, WithoutAnAnalyserOrWithBadOptionsTheProgramEndsAtOnceSayingWhy) {
    for (auto [log, said] :
         {std::pair{"/dev/null", "vantel-dmm: Vantel.Application: no analyser on the D-Bus"},
          {"/nonexistent/run.csv", "vantel-dmm: cannot open the log /nonexistent/run.csv: No"},
          {"", "--log needs a file name"},
          {"-",
           "--input and its options set up the built-in analyser; they cannot be used "
           "with --analyser dbus"}}) {
        QProcess panel;
        QStringList arguments = headless(QString::fromLatin1(log), "dbus");
        if (log == std::string_view("-"))
            arguments << u"--input"_s << u"sim"_s;
        start_panel(panel, arguments);
        ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms)) << "the panel waits for nothing";
        EXPECT_EQ(panel.exitCode(), 2);
        const std::string err = panel.readAllStandardError().toStdString();
        EXPECT_THAT(err, HasSubstr(said));
        if (log != std::string_view("/dev/null")) {
            EXPECT_THAT(err, ::testing::Not(HasSubstr("Vantel.Application")));
        }
    }
}

TEST(Log, AFullDiskStopsTheLogOnceAndTheMeterGoesOn) {
    QProcess panel;
    start_panel(panel, headless(u"/dev/full"_s));
    EXPECT_FALSE(panel.waitForFinished(1500)) << "the meter ended";
    ::kill(static_cast<pid_t>(panel.processId()), SIGTERM);
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitCode(), 0);
    const QByteArray err = panel.readAllStandardError();
    EXPECT_EQ(err.count("could not be written"), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("the log /dev/full could not be written (No space left on device)"));
}

}  // namespace
}  // namespace vantel
