// SPDX-License-Identifier: MIT
// vantel-dmm as a test rig runs it: as a child process, on the built-in analyser and on
// vantel-analyser over the private bus, with its options, its log and its exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <csignal>
#include <cstdint>

#include "bus_fixture.h"
#include "recorder/recorder.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using ::testing::HasSubstr;

constexpr int kColumns = 16;  // the log's columns without pass

struct Outcome {
    int code = -1;  // -1: killed, or still running at the time-out
    QByteArray out;
    QByteArray err;
    qint64 elapsed_ms = 0;
};

// A home of its own for every child: nothing a run does reaches the user's.
QProcessEnvironment child_environment() {
    static QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, home.path() + u"/config"_s);
    return env;
}

Outcome finish(QProcess& p, int timeout_ms, const QElapsedTimer& since) {
    Outcome o;
    if (p.waitForFinished(timeout_ms) && p.exitStatus() == QProcess::NormalExit)
        o.code = p.exitCode();
    o.elapsed_ms = since.elapsed();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    o.out = p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    return o;
}

// vantel-dmm with `arguments`, to its end.
Outcome run_dmm(const QStringList& arguments, int timeout_ms = kChildTimeout_ms) {
    QProcess p;
    p.setProcessEnvironment(child_environment());
    QElapsedTimer since;
    since.start();
    start_panel(p, arguments);
    return finish(p, timeout_ms, since);
}

// `script` in bash, with vantel-dmm as $0 and `argument` as $1.
Outcome run_bash(const QString& script, const QString& argument = {},
                 int timeout_ms = kChildTimeout_ms) {
    QProcess p;
    p.setProcessEnvironment(child_environment());
    QElapsedTimer since;
    since.start();
    start_child(p, u"bash"_s, {u"-c"_s, script, QStringLiteral(VANTEL_DMM_BINARY), argument});
    return finish(p, timeout_ms, since);
}

QStringList headless(const char* analyser, QStringList more) {
    return QStringList{u"--no-window"_s, u"--analyser"_s, QString::fromLatin1(analyser)} + more;
}

// The rows of a log after its header, each checked to be whole.
QList<QByteArray> rows_of(const QByteArray& log, int columns = kColumns) {
    QList<QByteArray> lines = log.split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "the log ends in part of a row";
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        EXPECT_EQ(line.count(','), columns - 1) << line.toStdString();
    }
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

QByteArray read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray column(const QByteArray& row, int index) {
    return row.split(',').value(index);
}

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
    QProcessEnvironment env = child_environment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(variable));
    auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer since;
        since.start();
        start_panel(p, arguments);
        return finish(p, kChildTimeout_ms, since);
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
    QProcessEnvironment env = child_environment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    QFile kept(env.value(u"XDG_CONFIG_HOME"_s) + u"/vantel-dmm/panel.conf"_s);
    kept.remove();
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer since;
    since.start();
    start_panel(p, {u"--analyser"_s, u"sim"_s, u"--zoom"_s, u"150"_s, u"--trend"_s, u"--duration"_s,
                    u"1"_s});
    const Outcome o = finish(p, kChildTimeout_ms, since);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("zoom_percent=150\n"));
}

// The reading alone on standard output, for a shell's $(...).
TEST(Once, PrintsOnlyTheSettledReadingAndItsUnit) {
    const Outcome o = run_dmm(QStringList{u"--analyser"_s, u"sim"_s, u"--once"_s} + kThdnAt1V);
    ASSERT_EQ(o.code, 0) << o.err.toStdString();
    const QRegularExpressionMatch m =
        QRegularExpression(u"^(-\\d+\\.\\d\\d) dB\\n$"_s).match(QString::fromUtf8(o.out));
    ASSERT_TRUE(m.hasMatch()) << o.out.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble(), kSimulatedThdn_db, kThdnTolerance_db);
}

struct LimitCase {
    const char* name;
    const char* limits;
    int exit_code;
};

class Limits : public testing::TestWithParam<LimitCase> {};

// Every logged reading judged in the reading's unit (here dB); exit code 1 when any failed.
TEST_P(Limits, JudgeEveryRowAndGiveTheExitCode) {
    QTemporaryDir dir;
    const QString log = dir.filePath(u"judged.csv"_s);
    const Outcome o =
        run_dmm(headless("sim", QStringList{u"--limits"_s, QString::fromLatin1(GetParam().limits),
                                            u"--count"_s, u"3"_s, u"--log"_s, log} +
                                    kThdnAt1V));
    EXPECT_EQ(o.code, GetParam().exit_code) << o.err.toStdString();
    const QByteArray text = read_file(log);
    EXPECT_TRUE(
        text.startsWith("time,seconds,channel,function,reading,unit,display,minimum,"
                        "maximum,weighting,response,relativity,input,held,status,source,pass\r\n"));
    const QList<QByteArray> rows = rows_of(text, kColumns + 1);
    ASSERT_EQ(rows.size(), 3);
    for (const QByteArray& row : rows) {
        EXPECT_EQ(column(row, 5), "dB");
        EXPECT_GE(column(row, 1).toDouble(), 0.5) << "settled";
        EXPECT_EQ(column(row, kColumns), GetParam().exit_code == 0 ? "true\r" : "false\r");
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
    const Outcome counted = run_dmm(headless("sim", {u"--count"_s, u"4"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(counted.code, 0);
    EXPECT_EQ(rows_of(counted.out).size(), 4);

    const Outcome timed = run_dmm(headless("sim", {u"--duration"_s, u"1"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(timed.code, 0);
    const QList<QByteArray> rows = rows_of(timed.out);
    ASSERT_GE(rows.size(), 3);
    EXPECT_LE(rows.size(), 5);
    EXPECT_LT(column(rows.last(), 1).toDouble(), 1.0);

    const Outcome settled = run_dmm(
        headless("sim", {u"--settle"_s, u"1.1"_s, u"--count"_s, u"1"_s, u"--log"_s, u"-"_s}));
    EXPECT_EQ(settled.code, 0);
    const QList<QByteArray> first = rows_of(settled.out);
    ASSERT_EQ(first.size(), 1);
    EXPECT_GE(column(first[0], 1).toDouble(), 1.1);
}

// The same command twice continues the log; another file is left alone unless replacing it is
// asked for.
TEST(Rig, AnExistingLogIsAppendedToOnlyWhenItIsTheSameLog) {
    QTemporaryDir dir;
    const QString log = dir.filePath(u"run.csv"_s);
    for (int run = 1; run <= 2; ++run) {
        const Outcome o = run_dmm(headless("sim", {u"--count"_s, u"2"_s, u"--log"_s, log}));
        EXPECT_EQ(o.code, 0) << o.err.toStdString();
        EXPECT_EQ(rows_of(read_file(log)).size(), 2 * run);
    }
    const QByteArray before = read_file(log);
    const Outcome judged =
        run_dmm(headless("sim", {u"--count"_s, u"1"_s, u"--limits"_s, u":1e9"_s, u"--log"_s, log}));
    EXPECT_EQ(judged.code, 2);
    EXPECT_THAT(judged.err.toStdString(), HasSubstr("the log " + log.toStdString() +
                                                    " already exists and does not start with"));
    EXPECT_EQ(read_file(log), before) << "left as it was";
    const Outcome replaced =
        run_dmm(headless("sim", {u"--count"_s, u"1"_s, u"--limits"_s, u":1e9"_s, u"--log"_s, log,
                                 u"--log-overwrite"_s}));
    EXPECT_EQ(replaced.code, 0) << replaced.err.toStdString();
    EXPECT_EQ(rows_of(read_file(log), kColumns + 1).size(), 1);
}

// A file that may grow no further (a full disk, ulimit -f) keeps its whole rows, says so once,
// and the meter goes on to the end of its run.
TEST(Rig, AFileSizeLimitLeavesOnlyWholeRows) {
    QTemporaryDir dir;
    const QString log = dir.filePath(u"limited.csv"_s);
    constexpr rlim_t kLimit_bytes = 1000;
    QProcess p;
    p.setProcessEnvironment(child_environment());
    p.setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const rlimit limit{kLimit_bytes, kLimit_bytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QElapsedTimer since;
    since.start();
    p.start(QStringLiteral(VANTEL_DMM_BINARY),
            headless("sim", {u"--count"_s, u"10"_s, u"--log"_s, log}));
    const Outcome o = finish(p, kChildTimeout_ms, since);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.err.count("could not be written"), 1) << o.err.toStdString();
    EXPECT_THAT(o.err.toStdString(), HasSubstr("(File too large)"));
    const QByteArray text = read_file(log);
    EXPECT_LE(text.size(), static_cast<qsizetype>(kLimit_bytes));
    EXPECT_GE(rows_of(text).size(), 1);
}

// A file name that is not UTF-8, for the input and for the log, reaches the file system byte
// for byte.
TEST(Rig, Latin1FileNamesAreFound) {
    QTemporaryDir dir;
    const QByteArray tone = QFile::encodeName(dir.path()) + "/t\xF6ne.wav";
    const QByteArray log = QFile::encodeName(dir.path()) + "/caf\xE9.csv";
    // One second of a 1 kHz sine at half of full scale, 16-bit mono at 48 kHz.
    constexpr int kRate = 48000;
    QByteArray samples;
    for (int i = 0; i < kRate; ++i) {
        const auto s = static_cast<std::int16_t>(
            std::lround(0.5 * 32767.0 * std::sin(2.0 * M_PI * 1000.0 * i / kRate)));
        samples.append(reinterpret_cast<const char*>(&s), 2);
    }
    auto le32 = [](std::uint32_t v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](std::uint16_t v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    const QByteArray wav = "RIFF" + le32(static_cast<std::uint32_t>(36 + samples.size())) +
                           "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(kRate) +
                           le32(kRate * 2) + le16(2) + le16(16) + "data" +
                           le32(static_cast<std::uint32_t>(samples.size())) + samples;
    const int fd = ::open(tone.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, wav.constData(), wav.size()), wav.size());
    ::close(fd);

    const Outcome o = run_bash(
        u"exec \"$0\" --once --settle 1 --set CTD_WeightingFilter=CTD_WEIGHTING_NONE "
        "--input \"$1/$(printf 't\\366ne.wav')\" --log \"$1/$(printf 'caf\\351.csv')\""_s,
        dir.path());
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    const int log_fd = ::open(log.constData(), O_RDONLY);
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

// The writes stay in the analyser; the option comes back as it was.
TEST_F(RigOverDbus, OnceSetsTheAnalyserUpAndPutsTheOptionBack) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    const Outcome o = run_dmm(QStringList{u"--analyser"_s, u"dbus"_s, u"--once"_s} + kThdnAt1V);
    ASSERT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_NEAR(o.out.split(' ').value(0).toDouble(), kSimulatedThdn_db, kThdnTolerance_db)
        << o.out.toStdString();
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"THD+N - relative"_s);
    EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 1.0);
    expect_odd_settling_option_back();
}

// A refused write ends the run before anything is logged or switched off.
TEST_F(RigOverDbus, ARefusedSetEndsWithCodeTwoBeforeAnyRow) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QTemporaryDir dir;
    const QString log = dir.filePath(u"refused.csv"_s);
    for (const char* set : {"CTD_Unit=99", "CTD_Unit=UNIT_NOPE", "CTD_Bogus=1"}) {
        const Outcome o = run_dmm(
            headless("dbus", {u"--set"_s, u"GEN_Level=0.5"_s, u"--set"_s, QString::fromLatin1(set),
                              u"--log"_s, log, u"--log-overwrite"_s}));
        EXPECT_EQ(o.code, 2) << set;
        EXPECT_THAT(o.err.toStdString(), HasSubstr(std::string("vantel-dmm: --set ") + set + ": "));
        EXPECT_TRUE(rows_of(read_file(log)).isEmpty()) << set;
        expect_odd_settling_option_back();
    }
    EXPECT_THAT(run_dmm(headless("dbus", {u"--set"_s, u"CTD_Unit=99"_s})).err.toStdString(),
                HasSubstr("99 is not a unit code"));
    EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 0.5)
        << "the writes before the refused one stay done";
}

// The listing is the analyser's own description, so the built-in analyser and the one on the
// bus list the same members, types and constants.
TEST_F(RigOverDbus, ListMembersIsTheSameOverDbusAsBuiltIn) {
    AnalyserProcess analyser;
    const Outcome built_in = run_dmm({u"--analyser"_s, u"sim"_s, u"--list-members"_s});
    const Outcome on_bus = run_dmm({u"--analyser"_s, u"dbus"_s, u"--list-members"_s});
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
    EXPECT_EQ(o.out,
              "time,seconds,channel,function,reading,unit,display,minimum,maximum,"
              "weighting,response,relativity,input,held,status,source\r\n");
    EXPECT_THAT(o.err.toStdString(), ::testing::Not(HasSubstr("could not be written")));
    expect_odd_settling_option_back();
}

class StalledReader : public OnPrivateBus, public testing::WithParamInterface<bool> {};

// A FIFO whose reader stops reading: the meter goes on, and SIGTERM still ends the program in
// well under 2 s with the option back, with or without the window.
TEST_P(StalledReader, NeitherHoldsUpTheMeterNorItsEnd) {
    const bool window = GetParam();
    AnalyserProcess analyser;
    set_odd_settling_option();
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(u"rows"_s));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GE(::fcntl(reader, F_SETPIPE_SZ, 4096), 4096);  // full after some twenty rows
    QProcess panel;
    panel.setProcessEnvironment(child_environment());
    QStringList arguments{u"--analyser"_s, u"dbus"_s, u"--log"_s, QFile::decodeName(fifo)};
    if (!window)
        arguments << u"--no-window"_s;
    start_panel(panel, arguments);
    int queued = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ::ioctl(reader, FIONREAD, &queued) == 0 && queued > 4096 - 300; }, 15000))
        << "the pipe did not fill: " << queued;
    QTest::qWait(600);  // the writer is stuck in a write; the meter runs on
    EXPECT_EQ(panel.state(), QProcess::Running);
    EXPECT_TRUE(settling_option_is_off());
    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(panel.processId()), SIGTERM);
    const Outcome o = finish(panel, kChildTimeout_ms, stopping);
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
    std::optional<AnalyserProcess> analyser(std::in_place);
    QProcess panel;
    panel.setProcessEnvironment(child_environment());
    start_panel(panel, headless("dbus", {u"--limits"_s, u"5:"_s, u"--log"_s, u"-"_s}));
    ASSERT_TRUE(panel.waitForReadyRead(kChildTimeout_ms));
    QTest::qWait(500);
    analyser->kill();
    QElapsedTimer since;
    since.start();
    const Outcome o = finish(panel, kChildTimeout_ms, since);
    EXPECT_EQ(o.code, 3) << o.err.toStdString();
    EXPECT_THAT(o.err.toStdString(), HasSubstr("the analyser failed"));
}

}  // namespace
}  // namespace vantel
