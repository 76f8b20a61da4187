// SPDX-License-Identifier: MIT
// The programs: picking the analyser backend by name (the automatic choice against the private
// bus), member access through sub-objects and --set from text to a write; then both programs as
// children, as a test rig runs them, on the built-in analyser and on vantel-analyser over the
// private bus: their options, the log and the exit codes, their signals, slow, stalled, noisy and
// crowded neighbours, and what they refuse at start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <limits>

#include "app/backends.h"
#include "app/member_access.h"
#include "automation/automation.h"
#include "csv_table.h"
#include "instrument/analyser.h"
#include "private_bus.h"
#include "row_name.h"
#include "sound_file.h"
#include "value_cell.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using ::testing::HasSubstr;
using testing_support::PrintTo;

// Backends that reach an analyser process are tried against one on the private bus (below,
// and the panel's process tests). The default is one this build knows; a name it does not know
// is refused with the names it does.
TEST(Backends, EverySelfContainedOneGivesANewApplicationAndUnknownNamesAreRefused) {
    bool default_known = false;
    for (const BackendInfo& b : known_backends()) {
        SCOPED_TRACE(std::string(b.name));
        EXPECT_FALSE(b.description.empty());
        default_known = default_known || b.name == default_backend();
        if (!b.self_contained)
            continue;
        ObjectRef first = obtain_application(b.name), second = obtain_application(b.name);
        ASSERT_TRUE(first && second);
        set_member(*first, "CTDetector", "CTD_Response", Value(2));
        EXPECT_EQ(get_member(*second, "CTDetector", "CTD_Response"), Value(std::int64_t{0}));
    }
    EXPECT_TRUE(default_known) << default_backend();
    EXPECT_EQ(choose_backend("sim").backend, "sim");
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("gpib"); }),
                ::testing::AllOf(HasSubstr("gpib"), HasSubstr("known: "), HasSubstr("sim")));
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("sim", "Vantel.Generator"); }),
                ::testing::StartsWith("Vantel.Generator: "));

    // Without a session bus, the automatic choice is the built-in analyser.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", "/nonexistent");
    const BackendChoice choice = choose_backend("auto");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(choice.backend, "sim");
    EXPECT_THAT(choice.why, HasSubstr("no D-Bus session bus"));
}

class AutoBackend : public OnPrivateBus, public testing::WithParamInterface<CsvRow> {};

TEST_P(AutoBackend, TakesTheBusAnalyserWhenThereIsOneElseTheBuiltIn) {
    const CsvRow& c = GetParam();
    std::optional<AnalyserProcess> analyser;
    if (c.flag("analyser_running"))
        analyser.emplace();
    if (c.flag("activatable"))
        PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    const BackendChoice choice = choose_backend("auto");
    PrivateBus::instance().install_service({});
    EXPECT_EQ(choice.backend, c["chosen"]) << choice.why;
    EXPECT_THAT(choice.why, HasSubstr("Vantel.Application"));
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBackend, testing::ValuesIn(csv_beside("backend_choices.csv")),
                         RowName());

// --set from text to a write into our analyser: the member's sub-object, the value's kind, and a
// refusal that names the --set.
class SetText : public testing::TestWithParam<CsvRow> {};

TEST_P(SetText, NamesTheSubObjectByTheMembersPrefix) {
    const CsvRow& c = GetParam();
    std::string error;
    const std::optional<MemberWrite> w = parse_member_write(c["text"], error);
    if (c["object"].empty()) {
        EXPECT_FALSE(w);
        EXPECT_THAT(error, HasSubstr("--set"));
        return;
    }
    ASSERT_TRUE(w) << error;
    EXPECT_EQ(w->object, c["object"]);
    EXPECT_EQ(w->member, c["member"]);
    EXPECT_EQ(w->value, c["value"]);
    EXPECT_EQ(w->given, c["text"]);
}

INSTANTIATE_TEST_SUITE_P(Texts, SetText, testing::ValuesIn(csv_beside("member_writes.csv")),
                         RowName());

class SetValue : public testing::TestWithParam<CsvRow> {};

TEST_P(SetValue, IsANumberABooleanANamedConstantOrText) {
    Analyser analyser;
    EXPECT_EQ(resolve_value(*analyser.application(), GetParam()["text"]),
              value_cell(GetParam()["expected"]));
}

INSTANTIATE_TEST_SUITE_P(Values, SetValue, testing::ValuesIn(csv_beside("member_values.csv")),
                         RowName());

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

// vantel-dmm to its end, or started as a child that runs on.
Outcome dmm(const QStringList& arguments, int timeout_ms = kChildTimeout_ms) {
    return run(VANTEL_DMM_BINARY, arguments, timeout_ms);
}
void start_dmm(QProcess& panel, const QStringList& arguments, void (*in_child)() = nullptr) {
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY), arguments, in_child);
}

// vantel-analyser on the private bus, its option at an odd value that a panel must put back.
class AnalyserOnBus : public OnPrivateBus {
protected:
    void SetUp() override {
        OnPrivateBus::SetUp();
        if (HasFatalFailure())
            return;
        analyser.emplace();
        ASSERT_EQ(write_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s, 7).type(),
                  QDBusMessage::ReplyMessage);
    }
    std::optional<AnalyserProcess> analyser;
};

class Start : public OnPrivateBus, public testing::WithParamInterface<CsvRow> {};

// --help and --version, and what is refused: bad options, no analyser on the bus, a log that
// cannot be opened, an input or a rate that cannot be measured. The program ends at once, most
// with no display at all, saying why (and says nothing of the analyser on the bus when it never
// reached for it).
TEST_P(Start, EndsAtOnceWithoutADisplayWithItsCodeSayingWhy) {
    const CsvRow& c = GetParam();
    const QString input = QString::fromStdString(in_home("input.wav"));
    QStringList arguments;
    for (QString a : QString::fromStdString(c["arguments"]).split(u' ')) {
        a.replace(u"DMM_BINARY"_s, QStringLiteral(VANTEL_DMM_BINARY));
        if (a.startsWith(u"WAV:"_s)) {
            const int rate_hz = a.mid(4).toInt();
            write_sound_file(input.toStdString(), rate_hz, 48000.0 / rate_hz,
                             [](long long) { return 0.0; });
        }
        arguments << (a.startsWith(u"WAV:"_s) || a == u"MISSING"_s ? input : a);
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (c.flag("no_display"))
            env.remove(QString::fromLatin1(variable));
    }
    p.setProcessEnvironment(env);
    start_child(
        p, QString::fromLatin1(c["program"] == "dmm" ? VANTEL_DMM_BINARY : VANTEL_ANALYSER_BINARY),
        arguments);
    const Outcome o = finish(p);
    EXPECT_EQ(o.code, c.integer("code")) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith(QString::fromStdString(c.text("out"))
                                     .replace(u"VERSION"_s, QStringLiteral(VANTEL_VERSION))
                                     .toUtf8()))
        << o.out.toStdString();
    const QString said = QString::fromStdString(c["said"])
                             .replace(u"INPUT"_s, input)
                             .replace(u"DMM_BINARY"_s, QStringLiteral(VANTEL_DMM_BINARY));
    EXPECT_THAT(o.err.toStdString(), HasSubstr(said.toStdString()));
    if (!said.contains(u"Vantel.Application"_s)) {
        EXPECT_THAT(o.err.toStdString(), ::testing::Not(HasSubstr("Vantel.Application")));
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, Start, testing::ValuesIn(csv_beside("starts.csv")), RowName());

// --zoom is the menu's View from the command line: the panel's size is kept for the next start
// (here beside the trend, which --trend opens). The real program's clock: --duration 1 ends the
// window's run, with a reading logged every 200 ms, the first after the two start-up cycles
// (--count and --settle bound the judged runs below).
TEST(Window, ZoomIsKeptAndDurationLogsFiveCyclesASecond) {
    const Outcome o = dmm({u"--analyser"_s, u"sim"_s, u"--zoom"_s, u"150"_s, u"--trend"_s,
                           u"--duration"_s, u"1"_s, u"--log"_s, u"-"_s});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(read_file(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/vantel-dmm/panel.conf"_s),
              QByteArray("zoom_percent=150\n"));
    const QList<QByteArray> rows = rows_of(o.out);
    ASSERT_GE(rows.size(), 3);
    EXPECT_LE(rows.size(), 5);
    EXPECT_LT(column(rows.last(), 1).toDouble(), 1.0);
}

class Limits : public testing::TestWithParam<CsvRow> {};

// Every logged reading judged in the reading's unit (here dB); exit code 1 when any failed.
TEST_P(Limits, JudgeEveryRowAndGiveTheExitCode) {
    const QString log = QString::fromStdString(in_home("judged.csv"));
    const Outcome o =
        dmm(headless("sim", QStringList{u"--limits"_s, QString::fromStdString(GetParam()["limits"]),
                                        u"--count"_s, u"3"_s, u"--log"_s, log} +
                                kThdnAt1V));
    EXPECT_EQ(o.code, GetParam().integer("exit_code")) << o.err.toStdString();
    const QByteArray text = read_file(log);
    EXPECT_TRUE(text.startsWith(kHeader + ",pass\r\n"));
    const QList<QByteArray> rows = rows_of(text, kLogColumns + 1);
    ASSERT_EQ(rows.size(), 3);
    for (const QByteArray& row : rows) {
        EXPECT_EQ(column(row, 5), "dB");
        EXPECT_GE(column(row, 1).toDouble(), 0.5) << "settled";
        EXPECT_EQ(column(row, kLogColumns),
                  GetParam().integer("exit_code") == 0 ? "true\r" : "false\r");
    }
}

INSTANTIATE_TEST_SUITE_P(Rig, Limits, testing::ValuesIn(csv_beside("judged_runs.csv")), RowName());

// A judged run leaves the log of an unjudged one alone (its columns differ) unless replacing it
// is asked for.
TEST(Rig, AnExistingLogIsAppendedToOnlyWhenItIsTheSameLog) {
    const QString log = QString::fromStdString(in_home("run.csv"));
    EXPECT_EQ(dmm(headless("sim", {u"--count"_s, u"2"_s, u"--log"_s, log})).code, 0);
    const QByteArray before = read_file(log);
    EXPECT_EQ(rows_of(before).size(), 2);
    const QStringList judged = {u"--count"_s, u"1"_s, u"--limits"_s, u":1e9"_s, u"--log"_s, log};
    const Outcome refused = dmm(headless("sim", judged));
    EXPECT_EQ(refused.code, 2);
    EXPECT_THAT(refused.err.toStdString(), HasSubstr("the log " + log.toStdString() +
                                                     " already exists and does not start with"));
    EXPECT_EQ(read_file(log), before) << "left as it was";
    const Outcome replaced = dmm(headless("sim", judged + QStringList{u"--log-overwrite"_s}));
    EXPECT_EQ(replaced.code, 0) << replaced.err.toStdString();
    EXPECT_EQ(rows_of(read_file(log), kLogColumns + 1).size(), 1);
}

// A file that may grow no further (a full disk, ulimit -f) keeps its whole rows, says so once,
// and the meter goes on to the end of its run.
TEST(Rig, AFileSizeLimitLeavesOnlyWholeRows) {
    const QString log = QString::fromStdString(in_home("limited.csv"));
    QProcess p;
    start_dmm(p, headless("sim", {u"--count"_s, u"10"_s, u"--log"_s, log}), [] {
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
    start_dmm(panel, headless("sim", {u"--log"_s, path}));
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

// One analyser on the bus serves each run in turn; every run puts the option back as it was.
TEST_F(AnalyserOnBus, EachRunLeavesTheOptionAsItWasAndALostAnalyserIsCodeThree) {
    // --once: the settled reading alone on standard output, for a shell's $(...); the writes
    // stay in the analyser.
    const Outcome once = dmm(QStringList{u"--analyser"_s, u"dbus"_s, u"--once"_s} + kThdnAt1V);
    ASSERT_EQ(once.code, 0) << once.err.toStdString();
    const QRegularExpressionMatch m =
        QRegularExpression(u"^(-\\d+\\.\\d\\d) dB\\n$"_s).match(QString::fromUtf8(once.out));
    ASSERT_TRUE(m.hasMatch()) << once.out.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble(), kSimulatedThdn_db, kThdnTolerance_db);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"THD+N - relative"_s);
    EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 1.0);
    expect_odd_settling_option_back();

    // A refused write ends the run before anything is logged or switched off.
    const QString log = QString::fromStdString(in_home("refused.csv"));
    for (auto [set, why] :
         {std::pair{"CTD_Unit=99", "CTDetector.CTD_Unit: 99 is not a unit code"},
          {"CTD_Unit=UNIT_NOPE", "UNIT_NOPE: the analyser offers no named constant of this name"},
          {"CTD_Bogus=1", "CTDetector.CTD_Bogus: "}}) {
        const Outcome o = dmm(
            headless("dbus", {u"--set"_s, u"GEN_Level=0.5"_s, u"--set"_s, QString::fromLatin1(set),
                              u"--set"_s, u"GEN_Level=2"_s, u"--log"_s, log}));
        EXPECT_EQ(o.code, 2) << set;
        EXPECT_THAT(o.err.toStdString(),
                    HasSubstr(std::string("vantel-dmm: --set ") + set + ": " + why));
        EXPECT_TRUE(rows_of(read_file(log)).isEmpty()) << set;
        expect_odd_settling_option_back();
        EXPECT_EQ(read_property(u"Generator"_s, u"GEN_Level"_s).toDouble(), 0.5)
            << "the writes before the refused one stay done, those after it are not made";
    }

    // The listing is the analyser's own description: the same built in and over the bus.
    const Outcome built_in = dmm({u"--analyser"_s, u"sim"_s, u"--list-members"_s});
    const Outcome on_bus = dmm({u"--analyser"_s, u"dbus"_s, u"--list-members"_s});
    ASSERT_EQ(on_bus.code, 0) << on_bus.err.toStdString();
    EXPECT_EQ(on_bus.out, built_in.out);
    const std::string text = on_bus.out.toStdString();
    EXPECT_THAT(text, ::testing::ContainsRegex("\nCTDetector.CTD_Unit +integer +read, write\n"));
    EXPECT_THAT(text, ::testing::ContainsRegex("\nCTDetector.CTD_ChA +double +read\n"));
    EXPECT_THAT(text, ::testing::ContainsRegex("\nUNIT_DBU +integer +23\n"));

    // `| head -1`: the reader has what it wanted; the run ends cleanly with code 0.
    const Outcome head =
        run_bash(u"\"$0\" --no-window --analyser dbus --log - | head -1; exit ${PIPESTATUS[0]}"_s);
    EXPECT_EQ(head.code, 0) << head.err.toStdString();
    EXPECT_EQ(head.out, kHeader + "\r\n");
    EXPECT_THAT(head.err.toStdString(), ::testing::Not(HasSubstr("could not be written")));
    expect_odd_settling_option_back();

    // The analyser going away during a judged run is code 3, above a limit's 1.
    QProcess panel;
    start_dmm(panel, headless("dbus", {u"--limits"_s, u"5:"_s, u"--log"_s, u"-"_s}));
    ASSERT_TRUE(panel.waitForReadyRead(kChildTimeout_ms));
    QTest::qWait(500);
    analyser->kill();
    const Outcome lost = finish(panel);
    EXPECT_EQ(lost.code, 3) << lost.err.toStdString();
    EXPECT_THAT(lost.err.toStdString(), HasSubstr("the analyser failed"));
}

// A FIFO whose reader stops reading: the meter goes on, and SIGTERM still ends the program in
// well under 2 s with the option back.
TEST_F(AnalyserOnBus, AStalledReaderNeitherHoldsUpTheMeterNorItsEnd) {
    const std::string fifo = in_home("rows");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GE(::fcntl(reader, F_SETPIPE_SZ, 4096), 4096);  // full after some twenty rows
    QProcess panel;
    start_dmm(panel, {u"--analyser"_s, u"dbus"_s, u"--log"_s, QString::fromStdString(fifo)});
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

struct SignalCase {
    const char* name;
    int signal;
    bool window;  // false: --no-window --log -
};

class StopSignal : public AnalyserOnBus, public testing::WithParamInterface<SignalCase> {};

// A closed terminal, Ctrl+\ and Ctrl+C all take the close path, with a window or without (a
// plain kill: the stalled reader's and the huge writes' tests).
TEST_P(StopSignal, PutsTheOptionBackAsItWas) {
    QProcess panel;
    start_dmm(panel, GetParam().window ? QStringList{u"--analyser"_s, u"dbus"_s}
                                       : headless("dbus", {u"--log"_s, u"-"_s}));
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms))
        << "the panel did not start up";
    QTest::qWait(500);  // a few cycles
    ::kill(static_cast<pid_t>(panel.processId()), GetParam().signal);
    const Outcome o = finish(panel);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    expect_odd_settling_option_back();
    if (!GetParam().window) {
        const QList<QByteArray> rows = rows_of(o.out);
        ASSERT_GE(rows.size(), 1);
        EXPECT_TRUE(rows[0].contains(",A,Amplitude,")) << rows[0].toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         testing::Values(SignalCase{"Sighup", SIGHUP, true},
                                         SignalCase{"Sigquit", SIGQUIT, true},
                                         SignalCase{"NoWindowSigint", SIGINT, false}),
                         RowName());

// Huge values are refused at once and the analyser's log stays small; answers 60 ms late, then a
// stall of a second (another client's big request, say), are waited out: the panel logs on, and
// ends as it should.
TEST_F(AnalyserOnBus, HugeWritesSlowAnswersAndStallsAreWaitedOutAndTheOptionStaysSafe) {
    QProcess panel;
    start_dmm(panel, headless("dbus", {u"--log"_s, u"-"_s}));
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms));
    const QString huge(4 * 1024 * 1024, u'x'), long_but_allowed(60 * 1024, u'y');
    for (int i = 0; i < 10; ++i) {
        for (const QString& text : {huge, long_but_allowed})
            EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, text).errorName(),
                      u"Vantel.Error.Refused"_s);
    }
    EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, huge).errorMessage(),
              u"Set: a value of over 65536 bytes is refused"_s);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"Amplitude"_s);
    const QString log = analyser->log();
    EXPECT_LT(log.size(), 100 * 1024);
    EXPECT_THAT(log.toStdString(), HasSubstr("(61440 bytes)"));

    // A delay that would leave the analyser deaf is refused.
    for (double seconds : {std::numeric_limits<double>::infinity(), 1e10, 61.0, -1.0})
        analyser->control("SetAccessDelay", {seconds}, QDBusMessage::ErrorMessage);
    analyser->control("SetAccessDelay", {0.06});
    QTest::qWait(1000);
    analyser->control("ClearFaults", {});
    QTest::qWait(500);
    QByteArray out = panel.readAllStandardOutput();
    const qsizetype rows_before_the_stall = out.count('\n') - 1;  // after the header
    analyser->control("Stall", {1.0}, std::nullopt);
    QTest::qWait(2000);
    EXPECT_EQ(panel.state(), QProcess::Running);
    panel.terminate();
    const Outcome o = finish(panel);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    expect_odd_settling_option_back();
    // The stall shows as a gap of most of a second between two rows, and rows came after it.
    const QList<QByteArray> rows = rows_of(out + o.out);
    double widest_gap_s = 0.0;
    for (qsizetype i = std::max<qsizetype>(rows_before_the_stall, 1); i < rows.size(); ++i)
        widest_gap_s = std::max(widest_gap_s,
                                column(rows[i], 1).toDouble() - column(rows[i - 1], 1).toDouble());
    EXPECT_GE(widest_gap_s, 0.8);
}

// Ten thousand small messages nobody asked for (calls with and without answers, signals).
void send_junk(const QStringList& destinations) {
    for (int i = 0; i < 10000; ++i) {
        const QString to = destinations[i % destinations.size()];
        const QString junk = u"Junk.Junk"_s;
        QDBusMessage m = i % 3 == 2
                             ? QDBusMessage::createTargetedSignal(to, u"/junk"_s, junk, u"Noise"_s)
                             : QDBusMessage::createMethodCall(to, i % 3 ? u"/"_s : u"/junk"_s, junk,
                                                              i % 3 ? u"Quiet"_s : u"Junk"_s);
        if (i % 3 == 1) {
            m.setAutoStartService(false);
            m << QString(1024, u'j');
        }
        ASSERT_TRUE(QDBusConnection::sessionBus().send(m));
    }
}

// A panel flooded with junk keeps running; a second panel on the same analyser would save the
// first one's "off" as the user's option, so it brings the first to the front and leaves.
TEST_F(AnalyserOnBus, JunkLeavesThePanelRunningAndASecondPanelBringsTheFirstToTheFront) {
    QProcess first;
    const QString log = QString::fromStdString(in_home("run.csv"));
    start_dmm(first, {u"--analyser"_s, u"dbus"_s, u"--log"_s, log});
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms));
    const auto log_rows = [&] { return read_file(log).count('\n'); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return log_rows() >= 3; }, kChildTimeout_ms));
    QStringList targets;  // the unique names of the panel's connections
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    for (const QString& name : bus->registeredServiceNames().value())
        if (name.startsWith(u':') && bus->servicePid(name).value() == first.processId())
            targets << name;
    ASSERT_GE(targets.size(), 1);
    send_junk(targets + QStringList{u"Vantel.DMM"_s});
    EXPECT_FALSE(first.waitForFinished(2000)) << first.readAllStandardError().toStdString();
    // A stray call is answered with an error at once, not left to time out.
    for (const QString& to : targets) {
        const QDBusMessage answer = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(to, u"/"_s, u"Junk.Junk"_s, u"Junk"_s), QDBus::Block,
            1000);
        EXPECT_EQ(answer.type(), QDBusMessage::ErrorMessage) << to.toStdString();
        EXPECT_NE(answer.errorName(), u"org.freedesktop.DBus.Error.NoReply"_s);
    }

    const Outcome second = dmm({u"--analyser"_s, u"dbus"_s});
    EXPECT_EQ(second.code, 0);
    EXPECT_THAT(second.err.toStdString(),
                HasSubstr("a panel is already attached to the analyser in this session; its "
                          "window was brought to the front"));
    // A script's run on the same analyser ends at once, and leaves the first panel's log alone
    // even when asked to replace it.
    const qsizetype rows_before = log_rows();
    EXPECT_EQ(dmm(headless("dbus", {u"--log"_s, log, u"--log-overwrite"_s})).code, 2);
    EXPECT_GE(log_rows(), rows_before) << "the first panel's log was cut";
    EXPECT_TRUE(settling_option_is_off());
    first.terminate();
    const Outcome o = finish(first);
    EXPECT_EQ(o.code, 0);
    EXPECT_THAT(o.err.toStdString(), HasSubstr("brought to the front at another start's request"));
    expect_odd_settling_option_back();
}

// Nobody can press OK on the offscreen platform: the time-out says its piece on stderr and ends.
TEST_F(OnPrivateBus, NeverReadyAnalyserEndsThePanelByItselfWithoutADisplay) {
    AnalyserProcess analyser({u"--initialise-after"_s, u"1000"_s});
    const Outcome o = dmm({u"--analyser"_s, u"dbus"_s}, 30000);
    EXPECT_EQ(o.code, 2) << "still waiting for someone to press OK?";
    EXPECT_THAT(o.err.toStdString(),
                HasSubstr("The program has timed out waiting for the Vantel Application to "
                          "initialise and will now close."));
}

}  // namespace
}  // namespace vantel
