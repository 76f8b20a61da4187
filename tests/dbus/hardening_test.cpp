// SPDX-License-Identifier: MIT
// The panel and the analyser against slow, stalled, noisy and crowded neighbours on the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "analyser/backends.h"
#include "analyser/dbus_wire.h"
#include "bus_fixture.h"
#include "jack_server.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using namespace testing_support;
using ::testing::HasSubstr;
using testing_support::JackServer;

using SlowAnalyser = OnPrivateBus;
using Neighbours = OnPrivateBus;
using SecondPanel = OnPrivateBus;

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more

// Each access answered after 60 ms (a cycle takes most of a second), then stalled for a second
// (another client's big request, say): the panel waits it out, and nothing fails.
TEST_F(SlowAnalyser, IsWaitedOutAndTheOptionStaysSafe) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    analyser.control("SetAccessDelay", {0.06});
    BusPanel p;
    p.work_tick();
    p.click(Role::UnitsKey);
    p.work_tick();
    EXPECT_EQ(p.text(Role::Unit), QStringLiteral("V peak"));
    analyser.control("ClearFaults", {});
    analyser.control_later("Stall", {1.0});
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

// The unique names that the process `pid` holds on the bus: its connections.
QStringList connections_of(qint64 pid) {
    QStringList names;
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    for (const QString& name : bus->registeredServiceNames().value()) {
        if (name.startsWith(u':') && bus->servicePid(name).value() == pid)
            names << name;
    }
    return names;
}

// Ten thousand small messages nobody asked for: calls that want an answer, calls that do not,
// and signals, all sent to each of the panel's connections.
void send_junk(const QStringList& destinations) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    constexpr int kMessages = 10000;
    for (int i = 0; i < kMessages; ++i) {
        const QString to = destinations[i % destinations.size()];
        QDBusMessage m;
        switch (i % 3) {
            case 0:
                m = QDBusMessage::createMethodCall(to, QStringLiteral("/junk"),
                                                   QStringLiteral("Junk.Junk"),
                                                   QStringLiteral("Junk"));
                break;
            case 1:
                m = QDBusMessage::createMethodCall(
                    to, QStringLiteral("/"), QStringLiteral("Junk.Junk"), QStringLiteral("Quiet"));
                m.setAutoStartService(false);
                m << QString(1024, u'j');
                break;
            default:
                m = QDBusMessage::createTargetedSignal(to, QStringLiteral("/junk"),
                                                       QStringLiteral("Junk.Junk"),
                                                       QStringLiteral("Noise"));
                break;
        }
        ASSERT_TRUE(bus.send(m));
    }
}

TEST_F(Neighbours, JunkSentToThePanelLeavesItRunning) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess panel;
    start_panel(panel, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms));
    const QStringList targets = connections_of(panel.processId());
    ASSERT_GE(targets.size(), 1);
    send_junk(targets + QStringList{QStringLiteral("Vantel.DMM")});
    // A few cycles' time: a panel that gave up would have ended by now.
    EXPECT_FALSE(panel.waitForFinished(2000)) << panel.readAllStandardError().toStdString();
    // Every connection of the panel answers a stray call with an error at once, rather than
    // leaving the caller (and the bus) to wait for an answer that never comes.
    for (const QString& to : targets) {
        const QDBusMessage answer = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(to, QStringLiteral("/"), QStringLiteral("Junk.Junk"),
                                           QStringLiteral("Junk")),
            QDBus::Block, 1000);
        EXPECT_EQ(answer.type(), QDBusMessage::ErrorMessage) << to.toStdString();
        EXPECT_NE(answer.errorName().toStdString(), "org.freedesktop.DBus.Error.NoReply")
            << to.toStdString();
    }
    panel.terminate();
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitCode(), 0) << panel.readAllStandardError().toStdString();
    expect_odd_settling_option_back();
}

// Huge values are refused before the analyser spends any time on them, and its log stays small.
TEST_F(Neighbours, OversizedWritesAreRefusedCheaplyAndLoggedBriefly) {
    AnalyserProcess analyser;
    BusPanel p;
    const QString huge(4 * 1024 * 1024, u'x');
    const QString long_but_allowed(60 * 1024, u'y');
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Function"), huge)
                      .errorName(),
                  QStringLiteral("Vantel.Error.Refused"));
        p.work_tick();
        EXPECT_EQ(write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Function"),
                                 long_but_allowed)
                      .errorName(),
                  QStringLiteral("Vantel.Error.Refused"));
    }
    EXPECT_FALSE(p.meter->ended());
    EXPECT_EQ(p.text(Role::Function), QStringLiteral("Amplitude"));
    const QString log = analyser.log();
    EXPECT_LT(log.size(), 100 * 1024);
    EXPECT_THAT(log.toStdString(), HasSubstr("(61440 bytes)"));
}

TEST_F(Neighbours, TestControlRefusesADelayThatWouldLeaveTheAnalyserDeaf) {
    AnalyserProcess analyser;
    for (double seconds : {std::numeric_limits<double>::infinity(), 1e10, 61.0, -1.0})
        analyser.control("SetAccessDelay", {seconds}, QDBusMessage::ErrorMessage);
    analyser.control("SetAccessDelay", {0.0});
    EXPECT_EQ(analyser.terminate(), 0);
}

// A second panel on the same analyser would save the first one's "off" as the user's option.
TEST_F(SecondPanel, BringsTheFirstToTheFrontAndLeavesTheOptionAlone) {
    AnalyserProcess analyser;
    set_odd_settling_option();
    QProcess first;
    start_panel(first, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(QTest::qWaitFor(settling_option_is_off, kChildTimeout_ms));
    // The first owns the name once it has attached; wait for the window to show.
    QTest::qWait(300);

    QProcess second;
    start_panel(second, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(second.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_THAT(second.readAllStandardError().toStdString(),
                HasSubstr("a panel is already attached to the analyser in this session; its "
                          "window was brought to the front"));
    EXPECT_TRUE(settling_option_is_off());

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(kChildTimeout_ms));
    EXPECT_THAT(first.readAllStandardError().toStdString(),
                HasSubstr("brought to the front at another start's request"));
    expect_odd_settling_option_back();
}

// Nobody can press OK on the offscreen platform: the time-out says its piece on stderr and ends.
TEST_F(SlowAnalyser, NeverReadyEndsByItselfWithoutADisplay) {
    AnalyserProcess analyser({QStringLiteral("--initialise-after"), QStringLiteral("1000")});
    QProcess panel;
    start_panel(panel, {QStringLiteral("--analyser"), QStringLiteral("dbus")});
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
    AnalyserProcess analyser({QStringLiteral("--input"), QStringLiteral("jack")});
    ASSERT_EQ(
        write_property(QStringLiteral("SignalAnalyzer"), QStringLiteral("SA_Source"), short{1})
            .type(),
        QDBusMessage::ReplyMessage);
    BusPanel p;
    p.work_tick();
    EXPECT_EQ(p.text(Role::Lock), QStringLiteral("Locked: 48kHz"));

    jack.kill();
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(200);
        p.work_tick();
    }
    EXPECT_FALSE(p.meter->ended());
    EXPECT_EQ(p.text(Role::Lock), QStringLiteral("Unlocked"));

    ASSERT_TRUE(jack.start());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            p.work_tick();
            return p.text(Role::Lock) == QStringLiteral("Locked: 48kHz");
        },
        3000));
    EXPECT_FALSE(p.meter->ended());
    const std::string log = analyser.log().toStdString();
    EXPECT_THAT(log, HasSubstr("the JACK server has gone"));
    EXPECT_THAT(log, HasSubstr("reconnected"));
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
    const QString path = dir.filePath(QStringLiteral("input.wav"));
    if (c.contents) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents);
    }
    QProcess program;
    program.setProcessChannelMode(QProcess::SeparateChannels);
    start_child(program, QString::fromLatin1(c.program), {QStringLiteral("--input"), path});
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
    std::unique_ptr<AnalyserProcess> analyser;
    if (c.analyser_running)
        analyser = std::make_unique<AnalyserProcess>();
    if (c.activatable)
        PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    const BackendChoice choice = choose_backend("auto");
    if (c.activatable)
        PrivateBus::instance().remove_service();
    EXPECT_EQ(choice.backend, c.chosen) << choice.why;
    EXPECT_THAT(choice.why, HasSubstr("Vantel.Application"));
    EXPECT_EQ(choose_backend("sim").backend, "sim");
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
