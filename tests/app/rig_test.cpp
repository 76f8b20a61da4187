// SPDX-License-Identifier: MIT
// vantel-dmm as a test rig runs it: as a child process, on the built-in analyser and on
// vantel-analyser over the private bus, with its options, its log and its exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include "private_bus.h"
#include "row_name.h"
#include "sound_file.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using ::testing::HasSubstr;
using testing_support::PrintTo;

const QByteArray kHeader =
    "time,seconds,channel,function,reading,unit,display,minimum,maximum,weighting,response,"
    "relativity,input,held,status,source";

// THD+N of the simulated device at 1 kHz and 1 V, in dB against the generator, unweighted.
const QStringList kThdnAt1V = {u"--set"_s,    u"GEN_Frequency=1000"_s,
                               u"--set"_s,    u"GEN_Level=1"_s,
                               u"--set"_s,    u"CTD_Function=THD+N - relative"_s,
                               u"--set"_s,    u"CTD_WeightingFilter=CTD_WEIGHTING_NONE"_s,
                               u"--set"_s,    u"CTD_Unit=UNIT_RELATIVE_DB"_s,
                               u"--settle"_s, u"0.5"_s};
// The simulated device's residual: distortion of 1.5e-5 and 30 uV of noise over 20 Hz-20 kHz at
// 1.006 of the generator's level, so THD+N = 20 log10(hypot(1.5e-5, 30e-6) * 1.006) ~ -89.5 dB.
constexpr double kSimulatedThdn_db = -89.5;
constexpr double kThdnTolerance_db = 1.0;

TEST(Help, NeedsNoDisplayAndBadOptionsAreCodeTwo) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(variable));
    auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        start_child(p, QStringLiteral(VANTEL_DMM_BINARY), arguments);
        return finish(p);
    };
    const Outcome help = run({u"--help"_s});
    EXPECT_EQ(help.code, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith("Usage: vantel-dmm [options]")) << help.out.toStdString();
    for (const char* option :
         {"--set", "--count", "--duration", "--settle", "--limits", "--once", "--list-members",
          "--log-overwrite", "--no-window", "--zoom", "--trend"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    const Outcome version = run({u"--version"_s});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "Vantel DMM " VANTEL_VERSION "\n");
    for (const QStringList& bad :
         {QStringList{u"--bogus"_s}, QStringList{u"--count"_s, u"0"_s},
          QStringList{u"--limits"_s, u"2:1"_s}, QStringList{u"--set"_s, u"Level=1"_s},
          QStringList{u"stray"_s}, QStringList{u"--zoom"_s, u"175"_s},
          QStringList{u"--zoom"_s, u"150"_s, u"--no-window"_s}}) {
        const Outcome refused = run(bad);
        EXPECT_EQ(refused.code, 2) << bad.join(u' ').toStdString();
        EXPECT_TRUE(refused.err.startsWith("vantel-dmm: ")) << refused.err.toStdString();
    }
}

// --zoom is the menu's View from the command line: the panel's size is kept for the next start
// (here beside the trend, which --trend opens).
TEST(Window, ZoomFromTheCommandLineIsKept) {
    const Outcome o = run(VANTEL_DMM_BINARY, {u"--analyser"_s, u"sim"_s, u"--zoom"_s, u"150"_s,
                                              u"--trend"_s, u"--duration"_s, u"1"_s});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(read_file(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/vantel-dmm/panel.conf"_s),
              QByteArray("zoom_percent=150\n"));
}

struct LimitCase {
    const char* name;
    const char* limits;
    int exit_code;
};

class Limits : public testing::TestWithParam<LimitCase> {};

// Every logged reading judged in the reading's unit (here dB); exit code 1 when any failed.
TEST_P(Limits, JudgeEveryRowAndGiveTheExitCode) {
    const QString log = QString::fromStdString(in_home("judged.csv"));
    const Outcome o =
        run(VANTEL_DMM_BINARY,
            headless("sim", QStringList{u"--limits"_s, QString::fromLatin1(GetParam().limits),
                                        u"--count"_s, u"3"_s, u"--log"_s, log} +
                                kThdnAt1V));
    EXPECT_EQ(o.code, GetParam().exit_code) << o.err.toStdString();
    const QByteArray text = read_file(log);
    EXPECT_TRUE(text.startsWith(kHeader + ",pass\r\n"));
    const QList<QByteArray> rows = rows_of(text, kLogColumns + 1);
    ASSERT_EQ(rows.size(), 3);
    for (const QByteArray& row : rows) {
        EXPECT_EQ(column(row, 5), "dB");
        EXPECT_GE(column(row, 1).toDouble(), 0.5) << "settled";
        EXPECT_EQ(column(row, kLogColumns), GetParam().exit_code == 0 ? "true\r" : "false\r");
    }
}

INSTANTIATE_TEST_SUITE_P(Rig, Limits,
                         testing::Values(LimitCase{"BelowMinus80", ":-80", 0},
                                         LimitCase{"BelowMinus95", ":-95", 1},
                                         LimitCase{"Between", "-95:-85", 0},
                                         LimitCase{"AboveMinus85", "-85:", 1}),
                         RowName());

// --count rows, or rows until --duration; --settle holds the first row back.
TEST(Rig, CountDurationAndSettleBoundTheLog) {
    const Outcome counted =
        run(VANTEL_DMM_BINARY, headless("sim", {u"--count"_s, u"4"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(counted.code, 0);
    EXPECT_EQ(rows_of(counted.out).size(), 4);

    const Outcome timed =
        run(VANTEL_DMM_BINARY, headless("sim", {u"--duration"_s, u"1"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(timed.code, 0);
    const QList<QByteArray> rows = rows_of(timed.out);
    ASSERT_GE(rows.size(), 3);
    EXPECT_LE(rows.size(), 5);
    EXPECT_LT(column(rows.last(), 1).toDouble(), 1.0);

    const Outcome settled =
        run(VANTEL_DMM_BINARY,
            headless("sim", {u"--settle"_s, u"1.1"_s, u"--count"_s, u"1"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(settled.code, 0);
    const QList<QByteArray> first = rows_of(settled.out);
    ASSERT_EQ(first.size(), 1);
    EXPECT_GE(column(first[0], 1).toDouble(), 1.1);
}

// The same command twice continues the log; another file is left alone unless replacing it is
// asked for.
TEST(Rig, AnExistingLogIsAppendedToOnlyWhenItIsTheSameLog) {
    const QString log = QString::fromStdString(in_home("run.csv"));
    for (int run_number = 1; run_number <= 2; ++run_number)
        EXPECT_EQ(
            run(VANTEL_DMM_BINARY, headless("sim", {u"--count"_s, u"2"_s, u"--log"_s, log})).code,
            0);
    EXPECT_EQ(rows_of(read_file(log)).size(), 4);
    const QByteArray before = read_file(log);
    const QStringList judged = {u"--count"_s, u"1"_s, u"--limits"_s, u":1e9"_s, u"--log"_s, log};
    const Outcome refused = run(VANTEL_DMM_BINARY, headless("sim", judged));
    EXPECT_EQ(refused.code, 2);
    EXPECT_THAT(refused.err.toStdString(), HasSubstr("the log " + log.toStdString() +
                                                     " already exists and does not start with"));
    EXPECT_EQ(read_file(log), before) << "left as it was";
    const Outcome replaced =
        run(VANTEL_DMM_BINARY, headless("sim", judged + QStringList{u"--log-overwrite"_s}));
    EXPECT_EQ(replaced.code, 0) << replaced.err.toStdString();
    EXPECT_EQ(rows_of(read_file(log), kLogColumns + 1).size(), 1);
}

// A file that may grow no further (a full disk, ulimit -f) keeps its whole rows, says so once,
// and the meter goes on to the end of its run.
TEST(Rig, AFileSizeLimitLeavesOnlyWholeRows) {
    const QString log = QString::fromStdString(in_home("limited.csv"));
    QProcess p;
    start_child(p, QStringLiteral(VANTEL_DMM_BINARY),
                headless("sim", {u"--count"_s, u"10"_s, u"--log"_s, log}), [] {
                    const rlimit limit{1000, 1000};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                });
    const Outcome o = finish(p);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.err.count("could not be written"), 1) << o.err.toStdString();
    EXPECT_THAT(o.err.toStdString(), HasSubstr("(File too large)"));
    const QByteArray text = read_file(log);
    EXPECT_LE(text.size(), 1000);
    EXPECT_GE(rows_of(text).size(), 1);
}

// SIGKILL gives the program no chance to tidy up: every row written is whole all the same.
TEST(Rig, AProcessKilledOutrightLeavesOnlyWholeRows) {
    const QString path = QString::fromStdString(in_home("run.csv"));
    QProcess panel;
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY), headless("sim", {u"--log"_s, path}));
    QFile file(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return file.size() > 2000; }, kChildTimeout_ms))
        << panel.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(panel.processId()), SIGKILL);
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    QByteArray text = read_file(path);
    text.truncate(text.lastIndexOf('\n') + 1);
    EXPECT_LT(read_file(path).mid(text.size()).count(','), kLogColumns)
        << "a part of a row, if any";
    EXPECT_GE(rows_of(text).size(), 4);
    EXPECT_TRUE(text.startsWith(kHeader + "\r\n"));
}

// A file name that is not UTF-8, for the input and for the log, reaches the file system byte
// for byte.
TEST(Rig, Latin1FileNamesAreFound) {
    write_sound_file(in_home("t\xF6ne.wav"), 48000, 1.0,
                     [](long long n) { return 0.5 * sine(1000.0, 48000.0, n); });
    const Outcome o = run_bash(
        u"exec \"$0\" --once --settle 1 --set CTD_WeightingFilter=CTD_WEIGHTING_NONE "
        "--input \"$1/$(printf 't\\366ne.wav')\" --log \"$1/$(printf 'caf\\351.csv')\""_s,
        qEnvironmentVariable("HOME"));
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    const int log_fd = ::open(in_home("caf\xE9.csv").c_str(), O_RDONLY);
    ASSERT_GE(log_fd, 0) << "the log is not under its Latin-1 name";
    char text[4096] = {};
    const ssize_t got = ::read(log_fd, text, sizeof text - 1);
    ::close(log_fd);
    const QList<QByteArray> rows = rows_of(QByteArray(text, static_cast<qsizetype>(got)));
    ASSERT_EQ(rows.size(), 1);
    // A sound file is read in dBFS: a sine at half of full scale.
    EXPECT_EQ(column(rows[0], 6), "-6.021 dBFS");
}

using RigOverDbus = OnPrivateBus;

// The settled reading alone on standard output, for a shell's $(...); the writes stay in the
// analyser, and the option comes back as it was.
TEST_F(RigOverDbus, OncePrintsTheSettledReadingLeavesTheWritesAndPutsTheOptionBack) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    const Outcome o =
        run(VANTEL_DMM_BINARY, QStringList{u"--analyser"_s, u"dbus"_s, u"--once"_s} + kThdnAt1V);
    ASSERT_EQ(o.code, 0) << o.err.toStdString();
    const QRegularExpressionMatch m =
        QRegularExpression(u"^(-\\d+\\.\\d\\d) dB\\n$"_s).match(QString::fromUtf8(o.out));
    ASSERT_TRUE(m.hasMatch()) << o.out.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble(), kSimulatedThdn_db, kThdnTolerance_db);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"THD+N - relative"_s);
    EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 1.0);
    expect_odd_settling_option_back();
}

// A refused write ends the run before anything is logged or switched off.
TEST_F(RigOverDbus, ARefusedSetEndsWithCodeTwoBeforeAnyRow) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    const QString log = QString::fromStdString(in_home("refused.csv"));
    for (const char* set : {"CTD_Unit=99", "CTD_Unit=UNIT_NOPE", "CTD_Bogus=1"}) {
        const Outcome o = run(
            VANTEL_DMM_BINARY,
            headless("dbus", {u"--set"_s, u"GEN_Level=0.5"_s, u"--set"_s, QString::fromLatin1(set),
                              u"--log"_s, log, u"--log-overwrite"_s}));
        EXPECT_EQ(o.code, 2) << set;
        EXPECT_THAT(o.err.toStdString(), HasSubstr(std::string("vantel-dmm: --set ") + set + ": "));
        EXPECT_TRUE(rows_of(read_file(log)).isEmpty()) << set;
        expect_odd_settling_option_back();
    }
    EXPECT_THAT(
        run(VANTEL_DMM_BINARY, headless("dbus", {u"--set"_s, u"CTD_Unit=99"_s})).err.toStdString(),
        HasSubstr("99 is not a unit code"));
    EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 0.5)
        << "the writes before the refused one stay done";
}

// The listing is the analyser's own description, so the built-in analyser and the one on the
// bus list the same members, types and constants.
TEST_F(RigOverDbus, ListMembersIsTheSameOverDbusAsBuiltIn) {
    AnalyserProcess analyser;
    const Outcome built_in =
        run(VANTEL_DMM_BINARY, {u"--analyser"_s, u"sim"_s, u"--list-members"_s});
    const Outcome on_bus =
        run(VANTEL_DMM_BINARY, {u"--analyser"_s, u"dbus"_s, u"--list-members"_s});
    ASSERT_EQ(built_in.code, 0) << built_in.err.toStdString();
    ASSERT_EQ(on_bus.code, 0) << on_bus.err.toStdString();
    EXPECT_EQ(on_bus.out, built_in.out);
    const std::string text = on_bus.out.toStdString();
    EXPECT_THAT(text, ::testing::ContainsRegex("\nCTDetector.CTD_Unit +integer +read, write\n"));
    EXPECT_THAT(text, ::testing::ContainsRegex("\nCTDetector.CTD_ChA +double +read\n"));
    EXPECT_THAT(text, ::testing::ContainsRegex("\nCTDetector.CTD_Function +text +read, write\n"));
    EXPECT_THAT(text, ::testing::ContainsRegex("\nUNIT_DBU +integer +23\n"));
}

// `| head -1`: the reader has what it wanted; the run ends cleanly and gives the option back.
TEST_F(RigOverDbus, AReaderThatLeavesEndsTheRunWithCodeZero) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    const Outcome o =
        run_bash(u"\"$0\" --no-window --analyser dbus --log - | head -1; exit ${PIPESTATUS[0]}"_s);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, kHeader + "\r\n");
    EXPECT_THAT(o.err.toStdString(), ::testing::Not(HasSubstr("could not be written")));
    expect_odd_settling_option_back();
}

class StalledReader : public OnPrivateBus, public testing::WithParamInterface<bool> {};

// A FIFO whose reader stops reading: the meter goes on, and SIGTERM still ends the program in
// well under 2 s with the option back, with or without the window.
TEST_P(StalledReader, NeitherHoldsUpTheMeterNorItsEnd) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    const std::string fifo = in_home("rows");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GE(::fcntl(reader, F_SETPIPE_SZ, 4096), 4096);  // full after some twenty rows
    QProcess panel;
    QStringList arguments{u"--analyser"_s, u"dbus"_s, u"--log"_s, QString::fromStdString(fifo)};
    if (!GetParam())
        arguments << u"--no-window"_s;
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY), arguments);
    int queued = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ::ioctl(reader, FIONREAD, &queued) == 0 && queued > 4096 - 300; }, 15000))
        << "the pipe did not fill: " << queued;
    QTest::qWait(600);  // the writer is stuck in a write; the meter runs on
    EXPECT_EQ(panel.state(), QProcess::Running);
    EXPECT_TRUE(settling_option_is_off());
    ::kill(static_cast<pid_t>(panel.processId()), SIGTERM);
    const Outcome o = finish(panel);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_LT(o.elapsed_ms, 2000);
    EXPECT_THAT(o.err.toStdString(), HasSubstr("did not take its last"));
    expect_odd_settling_option_back();
    ::close(reader);
}

INSTANTIATE_TEST_SUITE_P(Rig, StalledReader, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "Window" : "NoWindow");
                         });

// The analyser going away during a judged run is code 3, above a limit's 1.
TEST_F(RigOverDbus, AnAnalyserThatGoesAwayIsCodeThree) {
    AnalyserProcess analyser;
    QProcess panel;
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY),
                headless("dbus", {u"--limits"_s, u"5:"_s, u"--log"_s, u"-"_s}));
    ASSERT_TRUE(panel.waitForReadyRead(kChildTimeout_ms));
    QTest::qWait(500);
    analyser.kill();
    const Outcome o = finish(panel);
    EXPECT_EQ(o.code, 3) << o.err.toStdString();
    EXPECT_THAT(o.err.toStdString(), HasSubstr("the analyser failed"));
}

}  // namespace
}  // namespace vantel
