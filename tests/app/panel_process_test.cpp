// SPDX-License-Identifier: MIT
// The panel (in this process, or vantel-dmm as a child) on vantel-analyser over the private bus:
// its end, its signals, slow, stalled, noisy and crowded neighbours, and inputs it cannot take.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <limits>

#include "private_bus.h"
#include "row_name.h"
#include "sound_file.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using ::testing::HasSubstr;
using testing_support::PrintTo;
using PanelOverDbus = OnPrivateBus;

// A deaf analyser holds a key for the call time-out, no longer, and the next cycle ends the panel
// with exit code 3 and no message (a killed one: RigOverDbus.AnAnalyserThatGoesAwayIsCodeThree).
TEST_F(PanelOverDbus, DeafAnalyserHoldsAKeyForTheTimeOutAndTheNextCycleEndsThePanel) {
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
    analyser.kill();  // it would sleep through its queue of late calls first
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
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY),
                GetParam().window ? QStringList{u"--analyser"_s, u"dbus"_s}
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
                                         SignalCase{"NoWindowSigterm", SIGTERM, false},
                                         SignalCase{"NoWindowSigint", SIGINT, false}),
                         RowName());

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
        QStringList arguments = headless("dbus", {u"--log"_s, QString::fromLatin1(log)});
        if (log == std::string_view("-"))
            arguments << u"--input"_s << u"sim"_s;
        const Outcome o = run(VANTEL_DMM_BINARY, arguments);
        EXPECT_EQ(o.code, 2);
        EXPECT_THAT(o.err.toStdString(), HasSubstr(said));
        if (log != std::string_view("/dev/null")) {
            EXPECT_THAT(o.err.toStdString(), ::testing::Not(HasSubstr("Vantel.Application")));
        }
    }
}

// Huge values are refused at once and the log stays small; answers 60 ms late, then a stall of a
// second (another client's big request, say), are waited out, and nothing fails.
TEST_F(PanelOverDbus, HugeWritesSlowAnswersAndStallsAreWaitedOutAndTheOptionStaysSafe) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    BusPanel p;
    const QString huge(4 * 1024 * 1024, u'x'), long_but_allowed(60 * 1024, u'y');
    for (int i = 0; i < 10; ++i) {
        for (const QString& text : {huge, long_but_allowed})
            EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, text).errorName(),
                      u"Vantel.Error.Refused"_s);
        p.work_tick();
    }
    EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, huge).errorMessage(),
              u"Set: a value of over 65536 bytes is refused"_s);
    EXPECT_EQ(p.text(Role::Function), u"Amplitude"_s);
    const QString log = analyser.log();
    EXPECT_LT(log.size(), 100 * 1024);
    EXPECT_THAT(log.toStdString(), HasSubstr("(61440 bytes)"));

    // A delay that would leave the analyser deaf is refused.
    for (double seconds : {std::numeric_limits<double>::infinity(), 1e10, 61.0, -1.0})
        analyser.control("SetAccessDelay", {seconds}, QDBusMessage::ErrorMessage);
    analyser.control("SetAccessDelay", {0.06});
    p.click(Role::UnitsKey);
    p.work_tick();
    EXPECT_EQ(p.text(Role::Unit), u"V peak"_s);
    analyser.control("ClearFaults", {});
    analyser.control("Stall", {1.0}, std::nullopt);
    QTest::qWait(50);  // the stall has begun
    QElapsedTimer cycle;
    cycle.start();
    p.work_tick();
    EXPECT_GE(cycle.elapsed(), 800);
    EXPECT_FALSE(p.meter->ended());
    EXPECT_TRUE(p.reports.empty());
    p.click(Role::OffLegend);
    expect_odd_settling_option_back();
    EXPECT_EQ(p.ends, std::vector<int>{0});
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
TEST_F(PanelOverDbus, JunkLeavesThePanelRunningAndASecondPanelBringsTheFirstToTheFront) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess first;
    const QString log = QString::fromStdString(in_home("run.csv"));
    start_child(first, QStringLiteral(VANTEL_DMM_BINARY),
                {u"--analyser"_s, u"dbus"_s, u"--log"_s, log});
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

    const Outcome second = run(VANTEL_DMM_BINARY, {u"--analyser"_s, u"dbus"_s});
    EXPECT_EQ(second.code, 0);
    EXPECT_THAT(second.err.toStdString(),
                HasSubstr("a panel is already attached to the analyser in this session; its "
                          "window was brought to the front"));
    // A script's run on the same analyser ends at once, and leaves the first panel's log alone
    // even when asked to replace it.
    const qsizetype rows_before = log_rows();
    EXPECT_EQ(
        run(VANTEL_DMM_BINARY, headless("dbus", {u"--log"_s, log, u"--log-overwrite"_s})).code, 2);
    EXPECT_GE(log_rows(), rows_before) << "the first panel's log was cut";
    EXPECT_TRUE(settling_option_is_off());
    first.terminate();
    const Outcome o = finish(first);
    EXPECT_EQ(o.code, 0);
    EXPECT_THAT(o.err.toStdString(), HasSubstr("brought to the front at another start's request"));
    expect_odd_settling_option_back();
}

// Nobody can press OK on the offscreen platform: the time-out says its piece on stderr and ends.
TEST_F(PanelOverDbus, NeverReadyAnalyserEndsThePanelByItselfWithoutADisplay) {
    AnalyserProcess analyser({u"--initialise-after"_s, u"1000"_s});
    const Outcome o = run(VANTEL_DMM_BINARY, {u"--analyser"_s, u"dbus"_s}, 30000);
    EXPECT_EQ(o.code, 2) << "still waiting for someone to press OK?";
    EXPECT_THAT(o.err.toStdString(),
                HasSubstr("The program has timed out waiting for the Vantel Application to "
                          "initialise and will now close."));
}

// A sound file cut short while it plays: the analyser says so once on stderr, and from then on
// its input is lost.
TEST_F(PanelOverDbus, AnalyserSaysOnceOnStderrThatAFileStoppedDecoding) {
    constexpr int kRate = 8000;
    const std::string path = write_sound_file(
        in_home("tone.wav"), kRate, 10.0, [](long long n) { return 0.5 * sine(1000.0, kRate, n); });
    AnalyserProcess analyser({u"--input"_s, QString::fromStdString(path)});
    read_property(u"CTDetector"_s, u"CTD_ChA"_s);
    std::filesystem::resize_file(path, 44 + 4 * kRate);  // its first second is left
    // The analyser's cache holds about three seconds of this file; beyond them it must decode.
    auto lost = [] {
        read_property(u"CTDetector"_s, u"CTD_ChA"_s);
        return (read_property(u"SignalAnalyzer"_s, u"SA_Status"_s).toInt() & 1) != 0;
    };
    EXPECT_TRUE(QTest::qWaitFor(lost, 8000));
    QTest::qWait(600);
    EXPECT_TRUE(lost());
    analyser.terminate();
    EXPECT_EQ(analyser.log().count(u"stopped decoding"_s), 1);
}

struct BadInputCase {
    const char* name;
    const char* program;
    const char* contents;  // of the file given as the input; nullptr: no file at all
    const char* reason;
    int header_rate_hz = 0;  // else a WAV whose header says this rate
};

class BadInput : public testing::TestWithParam<BadInputCase> {};

// Both programs refuse an input they cannot measure at once, naming it, with exit code 2.
TEST_P(BadInput, EndsAtOnceNamingTheInput) {
    const BadInputCase& c = GetParam();
    const std::string path = in_home("input.wav");
    if (c.header_rate_hz) {
        write_sound_file(path, c.header_rate_hz, 48000.0 / c.header_rate_hz,
                         [](long long) { return 0.0; });
    } else if (c.contents) {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.contents) >= 0);
    }
    const Outcome o = run(c.program, {u"--input"_s, QString::fromStdString(path)});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err.toStdString(), HasSubstr(path));
    EXPECT_THAT(o.err.toStdString(), HasSubstr(c.reason));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInput,
    testing::Values(BadInputCase{"PanelMissingFile", VANTEL_DMM_BINARY, nullptr, "no such file"},
                    BadInputCase{"AnalyserCorruptFile", VANTEL_ANALYSER_BINARY,
                                 "RIFF\x24\0\0\0WAVEfmt garbage", "cannot read"},
                    // It once ran to 18.7 GB before it aborted.
                    BadInputCase{"PanelHugeRateInTheHeader", VANTEL_DMM_BINARY, nullptr,
                                 "its sample rate 2147483647 Hz is above the highest the "
                                 "analyser measures at, 768000 Hz",
                                 2147483647},
                    BadInputCase{"AnalyserRateAbove768kHz", VANTEL_ANALYSER_BINARY, nullptr,
                                 "its sample rate 1000000 Hz is above the highest the analyser "
                                 "measures at, 768000 Hz",
                                 1000000}),
    RowName());

struct RateCase {
    const char* name;
    const char* program;
    const char* rate;
    const char* reason;
};

class BadRate : public testing::TestWithParam<RateCase> {};

// --rate outside what the engine measures ends both programs at once, with exit code 2.
TEST_P(BadRate, EndsAtOnceNamingTheRate) {
    const RateCase& c = GetParam();
    const Outcome o =
        run(c.program, {u"--input"_s, u"alsa:null"_s, u"--rate"_s, QString::fromLatin1(c.rate)});
    EXPECT_EQ(o.code, 2);
    EXPECT_THAT(o.err.toStdString(), HasSubstr(c.reason));
}

INSTANTIATE_TEST_SUITE_P(
    Alsa, BadRate,
    testing::Values(RateCase{"PanelTerahertz", VANTEL_DMM_BINARY, "1e12",
                             "--rate 1e12: 1000000000000 Hz is above the highest the analyser "
                             "measures at, 768000 Hz"},
                    RateCase{"AnalyserAbove768kHz", VANTEL_ANALYSER_BINARY, "768001",
                             "--rate 768001: 768001 Hz is above the highest the analyser "
                             "measures at, 768000 Hz"},
                    RateCase{"AnalyserBelow8kHz", VANTEL_ANALYSER_BINARY, "4000",
                             "--rate 4000: 4000 Hz is below the lowest the analyser measures "
                             "at, 8000 Hz"}),
    RowName());

}  // namespace
}  // namespace vantel
