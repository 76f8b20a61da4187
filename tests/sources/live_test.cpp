// SPDX-License-Identifier: MIT
// The analyser on live inputs: a real JACK server (jackd's dummy driver) with a player client of
// the test's own feeding the analyser's ports, and ALSA's "null" device. Readings are taken
// through the automation interface, and expected values are the standards' (AES17 dBFS, the
// IEC 61672-1 Annex E A-weighting at 100 Hz, THD+N referred to the total).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <QThread>

#include <cmath>
#include <numbers>
#include <vector>

#include "analyser/conversions.h"
#include "jack_server.h"
#include "row_name.h"
#include "simulator/settings.h"
#include "simulator/simulator.h"
#include "sources/sample_source.h"

namespace vantel {
namespace {

using testing_support::JackServer;

// Plays a tone (with an optional third harmonic) into both of the analyser's inputs.
class Player {
public:
    struct Tone {
        double frequency_hz;
        double amplitude_fs;
        double third_harmonic;  // against the fundamental
    };

    explicit Player(Tone tone) : tone_(tone) {
        jack_status_t status{};
        client_ = jack_client_open("vantel-test-player", JackNoStartServer, &status);
        if (!client_)
            return;
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        rate_hz_ = jack_get_sample_rate(client_);
        jack_set_process_callback(client_, &Player::process, this);
        jack_activate(client_);
    }
    ~Player() {
        if (client_)
            jack_client_close(client_);
    }
    bool connect(const char* analyser) {
        const std::string name = analyser;
        return client_ &&
               jack_connect(client_, jack_port_name(port_), (name + ":in_A").c_str()) == 0 &&
               jack_connect(client_, jack_port_name(port_), (name + ":in_B").c_str()) == 0;
    }

private:
    static int process(jack_nframes_t frames, void* self) {
        auto& p = *static_cast<Player*>(self);
        auto* out = static_cast<float*>(jack_port_get_buffer(p.port_, frames));
        for (jack_nframes_t i = 0; i < frames; ++i, ++p.frame_) {
            const double x = 2.0 * std::numbers::pi * p.tone_.frequency_hz *
                             static_cast<double>(p.frame_) / p.rate_hz_;
            out[i] = static_cast<float>(p.tone_.amplitude_fs *
                                        (std::sin(x) + p.tone_.third_harmonic * std::sin(3 * x)));
        }
        return 0;
    }

    Tone tone_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    double rate_hz_ = 48000.0;
    std::int64_t frame_ = 0;
};

// The analyser built into a program, on the JACK input, its ports left for the test to connect.
struct LiveAnalyser {
    explicit LiveAnalyser(const char* client_name = "vantel-analyser") {
        SimulatorOptions options;
        options.input = "jack";
        options.live.jack_client_name = client_name;
        options.live.connect_inputs = false;
        sim.emplace(options);
        app = sim->application();
    }
    void set(const char* object, const char* member, Value v) {
        set_member(*app, object, member, v);
    }
    double reading(const char* channel = "CTD_ChA") {
        return to_double(get_member(*app, "CTDetector", channel));
    }
    std::optional<Simulator> sim;
    ObjectRef app;
};

// Time for the analyser's window to fill with what was played.
void let_it_play() {
    QThread::msleep(700);
}

struct LiveCase {
    const char* name;
    Player::Tone tone;
    const char* function;
    int weighting;
    int unit;
    double expected;
    double tolerance;
};

void PrintTo(const LiveCase& c, std::ostream* os) {
    *os << c.name;
}

class OnJack : public testing::TestWithParam<LiveCase> {
protected:
    static void SetUpTestSuite() { server = new JackServer; }
    static void TearDownTestSuite() { delete server; }
    static JackServer* server;
};
JackServer* OnJack::server = nullptr;

constexpr int kUnitDbfs = 32, kUnitPercent = 38, kUnitHz = 10;

// Played into the ports, read over the automation interface: the same figures the engine's own
// tests hold it to.
TEST_P(OnJack, ReadsWhatIsPlayedIntoItsPorts) {
    const LiveCase& c = GetParam();
    LiveAnalyser analyser;
    Player player(c.tone);
    ASSERT_TRUE(player.connect("vantel-analyser"));
    analyser.set("SignalAnalyzer", "SA_Source", Value(sim::kDigitalDomain));
    analyser.set("CTDetector", "CTD_Function", Value(c.function));
    analyser.set("CTDetector", "CTD_WeightingFilter", Value(c.weighting));
    if (c.unit == kUnitPercent)
        analyser.set("CTDetector", "CTD_Relativity", Value(2));
    if (c.unit != kUnitHz)
        analyser.set("CTDetector", "CTD_Unit", Value(c.unit));
    let_it_play();
    EXPECT_EQ(get_member(*analyser.app, "DigitalInputs", "DI_FrameRate"),
              Value(std::int64_t{48000}));
    for (const char* channel : {"CTD_ChA", "CTD_ChB"})
        EXPECT_NEAR(analyser.reading(channel), c.expected, c.tolerance) << channel;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, OnJack,
    testing::Values(
        // AES17: a sine of half full scale reads -6.02 dBFS.
        LiveCase{"Level", {1000.0, 0.5, 0.0}, "Amplitude", 0, kUnitDbfs, -6.0206, 0.01},
        // IEC 61672-1 Annex E at exactly 100 Hz: -19.1428 dB.
        LiveCase{
            "AWeighting", {100.0, 0.5, 0.0}, "Amplitude", 1, kUnitDbfs, -6.0206 - 19.1428, 0.1},
        // A third harmonic at -60 dB re the fundamental: 0.09999995 % of the total.
        LiveCase{"Thdn", {1000.0, 0.5, 0.001}, "THD+N - relative", 0, kUnitPercent, 0.1, 0.0005},
        // AES17's test tone, within 10 ppm.
        LiveCase{"Frequency", {997.0, 0.5, 0.0}, "Frequency", 0, kUnitHz, 997.0, 0.00997}),
    testing_support::RowName());

TEST(GeneratorOnJack, ConnectedBackToTheInputsReadsItsOwnLevelAndFrequency) {
    JackServer server;
    LiveAnalyser analyser;
    analyser.set("Generator", "GEN_Frequency", Value(997.0));
    analyser.set("Generator", "GEN_Level", Value(0.5));
    jack_status_t status{};
    jack_client_t* patch = jack_client_open("vantel-test-patch", JackNoStartServer, &status);
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(jack_connect(patch, "vantel-analyser:out_A", "vantel-analyser:in_A"), 0);
    EXPECT_EQ(jack_connect(patch, "vantel-analyser:out_B", "vantel-analyser:in_B"), 0);
    jack_client_close(patch);
    let_it_play();
    analyser.set("CTDetector", "CTD_WeightingFilter", Value(0));
    EXPECT_NEAR(analyser.reading("CTD_ChA"), 0.5, 0.5e-4);  // volts, through the calibration
    analyser.set("CTDetector", "CTD_Function", Value("Frequency"));
    EXPECT_NEAR(analyser.reading("CTD_ChB"), 997.0, 0.00997);
}

TEST(JackServerGoes, InputUnlocksReadsSilenceAndComesBackWithTheServer) {
    JackServer server;
    LiveAnalyser analyser;
    analyser.set("SignalAnalyzer", "SA_Source", Value(sim::kDigitalDomain));
    const auto frame_rate = [&] {
        return to_double(get_member(*analyser.app, "DigitalInputs", "DI_FrameRate"));
    };
    EXPECT_EQ(frame_rate(), 48000.0);
    server.kill();
    QThread::msleep(600);
    EXPECT_EQ(frame_rate(), 0.0);
    EXPECT_EQ(analyser.reading(), 0.0);
    ASSERT_TRUE(server.start());
    QElapsedTimer back;
    back.start();
    while (frame_rate() == 0.0 && back.elapsed() < 5000)
        QThread::msleep(50);
    EXPECT_EQ(frame_rate(), 48000.0);
    EXPECT_LT(back.elapsed(), 2000) << "reconnects within 2 s of the server's return";
}

TEST(JackNames, ASecondAnalyserOfTheSameNameIsRenamedByTheServer) {
    JackServer server;
    LiveAnalyser first, second;
    EXPECT_THAT(first.sim->describe_input(), testing::HasSubstr("client vantel-analyser at"));
    EXPECT_THAT(second.sim->describe_input(), testing::HasSubstr("client vantel-analyser-"));
}

TEST(JackAbsent, OpeningWithoutAServerSaysSo) {
    qputenv("JACK_DEFAULT_SERVER", "vantel-test-nobody");
    SimulatorOptions options;
    options.input = "jack";
    try {
        Simulator sim(options);
        ADD_FAILURE() << "a JACK input without a server";
    } catch (const source::SourceError& e) {
        EXPECT_THAT(e.what(), testing::HasSubstr("no JACK server is running"));
    }
}

TEST(Alsa, ADeviceThatDoesNotExistIsNamedAndTheNullDeviceCaptures) {
    SimulatorOptions options;
    options.input = "alsa:vantel_no_such_device";
    try {
        Simulator sim(options);
        ADD_FAILURE() << "an ALSA device that does not exist";
    } catch (const source::SourceError& e) {
        EXPECT_THAT(e.what(), testing::HasSubstr("\"vantel_no_such_device\""));
    }

    // "null" captures digital silence in real time: the capture path runs, and reads 0 V.
    options.input = "alsa:null";
    options.live.alsa_rate_hz = 44100;
    Simulator sim(options);
    ObjectRef app = sim.application();
    set_member(*app, "SignalAnalyzer", "SA_Source", Value(sim::kDigitalDomain));
    QThread::msleep(300);
    EXPECT_EQ(get_member(*app, "DigitalInputs", "DI_FrameRate"), Value(std::int64_t{44100}));
    EXPECT_EQ(to_double(get_member(*app, "CTDetector", "CTD_ChA")), 0.0);
    EXPECT_THAT(sim.describe_input(), testing::HasSubstr("44100 Hz"));
}

}  // namespace
}  // namespace vantel
