// SPDX-License-Identifier: MIT
// vantel-dmm as a process with --no-window and --log, on the built-in analyser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "bus_fixture.h"

namespace vantel {
namespace {

using namespace testing_support;
using ::testing::HasSubstr;

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more
constexpr int kColumns = 14;

QStringList headless(const QString& log) {
    return {QStringLiteral("--no-window"), QStringLiteral("--analyser"), QStringLiteral("sim"),
            QStringLiteral("--log"), log};
}

// SIGKILL gives the program no chance to tidy up: every row written is whole all the same.
TEST(Log, AProcessKilledOutrightLeavesOnlyWholeRows) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
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
              "weighting,response,relativity,input,held\r");
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        EXPECT_EQ(line.count(','), kColumns - 1) << line.toStdString();
    }
    EXPECT_LT(last.count(','), kColumns) << last.toStdString();
}

TEST(Log, AFileThatCannotBeOpenedEndsAtOnceBeforeTheAnalyserIsAsked) {
    QProcess panel;
    // Over D-Bus with no analyser at all: had it asked, it would say so instead.
    start_panel(
        panel, {QStringLiteral("--no-window"), QStringLiteral("--analyser"), QStringLiteral("dbus"),
                QStringLiteral("--log"), QStringLiteral("/nonexistent/run.csv")});
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitCode(), 2);
    const std::string err = panel.readAllStandardError().toStdString();
    EXPECT_THAT(err, HasSubstr("vantel-dmm: cannot open the log /nonexistent/run.csv: No such"));
    EXPECT_THAT(err, ::testing::Not(HasSubstr("Vantel.Application")));

    start_panel(panel, headless(QString()));
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitCode(), 2);
    EXPECT_THAT(panel.readAllStandardError().toStdString(), HasSubstr("--log needs a file name"));
}

TEST(Log, AFullDiskStopsTheLogOnceAndTheMeterGoesOn) {
    QProcess panel;
    start_panel(panel, headless(QStringLiteral("/dev/full")));
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
