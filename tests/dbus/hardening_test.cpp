// SPDX-License-Identifier: MIT
// The panel and the analyser against slow, stalled, noisy and crowded neighbours on the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTest>

#include <csignal>

#include "app/backends.h"
#include "bus_fixture.h"
#include "jack_server.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;

using namespace testing_support;
using ::testing::HasSubstr;

using Neighbours = OnPrivateBus;

// Huge values are refused at once and the log stays small; answers 60 ms late, then a stall of a
// second (another client's big request, say), are waited out, and nothing fails.
TEST_F(Neighbours, HugeWritesSlowAnswersAndStallsAreWaitedOutAndTheOptionStaysSafe) {
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
TEST_F(Neighbours, JunkLeavesThePanelRunningAndASecondPanelBringsTheFirstToTheFront) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess first, second;
    start_panel(first, {u"--analyser"_s, u"dbus"_s});
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms));
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

    start_panel(second, {u"--analyser"_s, u"dbus"_s});
    ASSERT_TRUE(second.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_THAT(second.readAllStandardError().toStdString(),
                HasSubstr("a panel is already attached to the analyser in this session; its "
                          "window was brought to the front"));
    EXPECT_TRUE(settling_option_is_off());
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_THAT(first.readAllStandardError().toStdString(),
                HasSubstr("brought to the front at another start's request"));
    expect_odd_settling_option_back();
}

// Nobody can press OK on the offscreen platform: the time-out says its piece on stderr and ends.
TEST_F(Neighbours, NeverReadyAnalyserEndsThePanelByItselfWithoutADisplay) {
    AnalyserProcess analyser({u"--initialise-after"_s, u"1000"_s});
    QProcess panel;
    start_panel(panel, {u"--analyser"_s, u"dbus"_s});
    ASSERT_TRUE(panel.waitForFinished(30000)) << "still waiting for someone to press OK";
    EXPECT_EQ(panel.exitCode(), 2);
    EXPECT_THAT(panel.readAllStandardError().toStdString(),
                HasSubstr("The program has timed out waiting for the Vantel Application to "
                          "initialise and will now close."));
}

// The analyser on a JACK server that crashes and comes back: neither it nor the panel over
// D-Bus goes down; the digital input shows its lock going and coming.
TEST_F(Neighbours, JackServerThatGoesAndReturnsLeavesAnalyserAndPanelRunning) {
    JackServer jack;
    AnalyserProcess analyser({u"--input"_s, u"jack"_s});
    ASSERT_EQ(write_property(u"SignalAnalyzer"_s, u"SA_Source"_s, short{1}).type(),
              QDBusMessage::ReplyMessage);
    BusPanel p;
    const auto locked = [&] {
        p.work_tick();
        return p.text(Role::Lock) == u"Locked: 48kHz"_s;
    };
    EXPECT_TRUE(locked());
    jack.kill();
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(200);
        p.work_tick();
    }
    EXPECT_EQ(p.text(Role::Lock), u"Unlocked"_s);
    ASSERT_TRUE(jack.start());
    EXPECT_TRUE(QTest::qWaitFor(locked, 3000));
    EXPECT_FALSE(p.meter->ended());
}

struct BadInputCase {
    const char* name;
    const char* program;
    const char* contents;  // of the file given as the input; nullptr: no file at all
    const char* reason;
};

class BadInput : public testing::TestWithParam<BadInputCase> {};

// Both programs refuse an input they cannot measure at once, naming it, with exit code 2.
TEST_P(BadInput, EndsAtOnceNamingTheInput) {
    const BadInputCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(u"input.wav"_s);
    QFile file(path);
    if (c.contents) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.contents) >= 0);
    }
    file.close();
    QProcess program;
    start_child(program, QString::fromLatin1(c.program), {u"--input"_s, path});
    ASSERT_TRUE(program.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(program.exitCode(), 2);
    const std::string said = program.readAllStandardError().toStdString();
    EXPECT_THAT(said, HasSubstr(path.toStdString()));
    EXPECT_THAT(said, HasSubstr(c.reason));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInput,
    testing::Values(BadInputCase{"PanelMissingFile", VANTEL_DMM_BINARY, nullptr, "no such file"},
                    BadInputCase{"AnalyserMissingFile", VANTEL_ANALYSER_BINARY, nullptr,
                                 "no such file"},
                    BadInputCase{"PanelEmptyFile", VANTEL_DMM_BINARY, "", "empty"},
                    BadInputCase{"AnalyserCorruptFile", VANTEL_ANALYSER_BINARY,
                                 "RIFF\x24\0\0\0WAVEfmt garbage", "cannot read"}),
    RowName());

struct ChoiceCase {
    const char* name;
    bool analyser_running;
    bool activatable;
    const char* chosen;
};

class AutoBackend : public OnPrivateBus, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(AutoBackend, TakesTheBusAnalyserWhenThereIsOneElseTheBuiltIn) {
    const ChoiceCase& c = GetParam();
    std::optional<AnalyserProcess> analyser;
    if (c.analyser_running)
        analyser.emplace();
    if (c.activatable)
        PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    const BackendChoice choice = choose_backend("auto");
    PrivateBus::instance().install_service({});
    EXPECT_EQ(choice.backend, c.chosen) << choice.why;
    EXPECT_THAT(choice.why, HasSubstr("Vantel.Application"));
    EXPECT_EQ(choose_backend("sim").backend, "sim");
    EXPECT_THAT(thrown([] { choose_backend("builtin"); }), HasSubstr("known: "));
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBackend,
                         testing::Values(ChoiceCase{"Running", true, false, "dbus"},
                                         ChoiceCase{"Activatable", false, true, "dbus"},
                                         ChoiceCase{"Neither", false, false, "sim"}),
                         RowName());

TEST(AutoBackendWithoutABus, IsTheBuiltInAnalyser) {
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

}  // namespace
}  // namespace vantel
