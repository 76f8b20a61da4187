// SPDX-License-Identifier: MIT
// The panel and the analyser against slow, stalled, noisy and crowded neighbours on the bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTest>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <functional>

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

// A 16-bit stereo WAV whose header says `rate_hz`, of `frames` frames of `sample(n)` (full
// scale 1) on both channels.
QByteArray wav(std::uint32_t rate_hz, std::uint32_t frames,
               const std::function<double(std::uint32_t)>& sample) {
    QByteArray bytes;
    auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    const std::uint32_t data_bytes = frames * 4;
    bytes.append("RIFF");
    put(36 + data_bytes, 4);
    bytes.append("WAVEfmt ");
    put(16, 4);
    put(1, 2);  // PCM
    put(2, 2);  // channels
    put(rate_hz, 4);
    put(rate_hz * 4, 4);  // bytes a second (wraps for a huge rate, as a forged header's would)
    put(4, 2);            // bytes a frame
    put(16, 2);           // bits a sample
    bytes.append("data");
    put(data_bytes, 4);
    for (std::uint32_t n = 0; n < frames; ++n) {
        const auto value =
            static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(32767.0 * sample(n))));
        put(value, 2);
        put(value, 2);
    }
    return bytes;
}

struct BadInputCase {
    const char* name;
    const char* program;
    const char* contents;  // of the file given as the input; nullptr: no file at all
    const char* reason;
    std::uint32_t header_rate_hz = 0;  // else a 192 KB WAV whose header says this rate
};

class BadInput : public testing::TestWithParam<BadInputCase> {};

// Both programs refuse an input they cannot measure at once, naming it, with exit code 2.
TEST_P(BadInput, EndsAtOnceNamingTheInput) {
    const BadInputCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(u"input.wav"_s);
    QFile file(path);
    if (c.header_rate_hz) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                    file.write(wav(c.header_rate_hz, 48000, [](std::uint32_t) { return 0.0; })) >=
                        0);
    } else if (c.contents) {
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
                                 "RIFF\x24\0\0\0WAVEfmt garbage", "cannot read"},
                    // It once ran to 18.7 GB before it aborted.
                    BadInputCase{"PanelHugeRateInTheHeader", VANTEL_DMM_BINARY, nullptr,
                                 "its sample rate 2147483647 Hz is above the highest the "
                                 "analyser measures at, 768000 Hz",
                                 2147483647u},
                    BadInputCase{"AnalyserRateAbove768kHz", VANTEL_ANALYSER_BINARY, nullptr,
                                 "its sample rate 1000000 Hz is above the highest the analyser "
                                 "measures at, 768000 Hz",
                                 1000000u}),
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
    QProcess program;
    start_child(program, QString::fromLatin1(c.program),
                {u"--input"_s, u"alsa:null"_s, u"--rate"_s, QString::fromLatin1(c.rate)});
    ASSERT_TRUE(program.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_THAT(program.readAllStandardError().toStdString(), HasSubstr(c.reason));
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

// A file at a DXD rate is measured under A-weighting and every detector, and the analyser stays
// on the bus: A-weighting's design threw at the first reading there and ended it, and every
// client lost it.
TEST_F(Neighbours, AnalyserMeasuresADxdFileUnderAWeighting) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"dxd.wav"_s);
    QFile file(path);
    constexpr std::uint32_t kRate = 384000;
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                file.write(wav(kRate, kRate / 2, [](std::uint32_t n) {
                    return 0.5 * std::sin(2.0 * M_PI * 1000.0 * n / kRate);
                })) >= 0);
    file.close();
    AnalyserProcess analyser({u"--input"_s, path});
    ASSERT_EQ(write_property(u"SignalAnalyzer"_s, u"SA_Source"_s, short{1}).type(),
              QDBusMessage::ReplyMessage);
    ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Unit"_s, short{32}).type(),  // dBFS
              QDBusMessage::ReplyMessage);
    ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_WeightingFilter"_s, short{1}).type(),  // A
              QDBusMessage::ReplyMessage);
    for (short response : std::initializer_list<short>{0, 1, 2, 3}) {  // RMS, peaks, Q-peak
        ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Response"_s, response).type(),
                  QDBusMessage::ReplyMessage);
        QTest::qWait(300);
        const QVariant reading = read_property(u"CTDetector"_s, u"CTD_ChA"_s);
        ASSERT_TRUE(reading.isValid())
            << "response " << response << ": " << analyser.log().toStdString();
        EXPECT_NEAR(reading.toDouble(), 20.0 * std::log10(0.5), 0.05) << "response " << response;
    }
    EXPECT_EQ(analyser.terminate(), 0);
}

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
