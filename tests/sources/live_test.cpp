// SPDX-License-Identifier: MIT
// The analyser on live inputs: a real JACK server (the dummy driver), its own
// generator patched back into its inputs, and ALSA's "null" device, read
// through the automation interface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <QThread>

#include <cmath>
#include <optional>
#include <string>

#include "automation/conversions.h"
#include "instrument/analyser.h"
#include "instrument/settings.h"
#include "jack_server.h"
#include "row_name.h"
#include "sources/sample_source.h"

namespace vantel {
namespace {

using testing_support::JackServer;
using testing_support::thrown;

// The analyser built into a program, on the JACK input, its ports left for the
// test to connect.
struct LiveAnalyser {
    LiveAnalyser() {
        AnalyserOptions options;
        options.input = "jack";
        options.live.connect_inputs = false;
        analyser.emplace(options);
        app = analyser->application();
    }
    void set(const char* object, const char* member, Value v) {
        set_member(*app, object, member, v);
    }
    double reading(const char* channel = "CTD_ChA") {
        return to_double(get_member(*app, "CTDetector", channel));
    }
    double frame_rate() { return to_double(get_member(*app, "DigitalInputs", "DI_FrameRate")); }
    // The status flags of a reading of channel A taken now.
    int status() {
        reading();
        return to_int32(get_member(*app, "SignalAnalyzer", "SA_Status"));
    }
    std::optional<Analyser> analyser;
    ObjectRef app;
};

// Patches the analyser's generator outputs back into its inputs, channel by channel.
void patch_generator_back(std::initializer_list<std::string> channels = {"A", "B"}) {
    jack_status_t status{};
    jack_client_t* patch = jack_client_open("vantel-test-patch", JackNoStartServer, &status);
    ASSERT_NE(patch, nullptr);
    for (const std::string& ch : channels)
        EXPECT_EQ(jack_connect(patch, ("vantel-analyser:out_" + ch).c_str(),
                               ("vantel-analyser:in_" + ch).c_str()),
                  0);
    jack_client_close(patch);
}

constexpr unsigned long kPlay_ms = 700;  // time for the analyser's window to fill

// Waits up to `timeout_ms` for `done`; how long it took, in ms, or -1. The
// dummy driver runs late on a loaded machine and leaves a gap in the last
// second, which reads a little off; a clean second comes within a few (3 s).
template <typename Done>
qint64 wait_until(Done done, qint64 timeout_ms = 3000) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeout_ms)
            return -1;
        QThread::msleep(50);
    }
    return waited.elapsed();
}

// Nothing reaches an input until the generator's output is patched into it (A first, then B);
// then it reads the generator as set, its frequency within 10 ppm. Cross-talk into B drives
// output A alone, so nothing comes back into input B.
TEST(OnJack, ReadsItsOwnGeneratorPatchedBack) {
    JackServer server;
    LiveAnalyser analyser;
    analyser.set("Generator", "GEN_Frequency", Value(997.0));
    analyser.set("Generator", "GEN_Level", Value(0.5));
    analyser.set("CTDetector", "CTD_WeightingFilter", Value(0));
    QThread::msleep(kPlay_ms);
    for (const char* channel : {"CTD_ChA", "CTD_ChB"})
        EXPECT_LT(analyser.reading(channel), 1e-6) << channel << ": nothing patched in yet";
    patch_generator_back({"A"});
    QThread::msleep(kPlay_ms);
    EXPECT_NEAR(analyser.reading("CTD_ChA"), 0.5, 0.5e-4);  // volts
    EXPECT_LT(analyser.reading("CTD_ChB"), 1e-6) << "B is not patched in yet";
    patch_generator_back({"B"});
    QThread::msleep(kPlay_ms);
    analyser.set("CTDetector", "CTD_Function", Value("Frequency"));
    EXPECT_NEAR(analyser.reading("CTD_ChB"), 997.0, 0.00997);
    analyser.set("CTDetector", "CTD_Function", Value("Cross-talk"));
    analyser.reading("CTD_ChB");  // switches output B off
    QThread::msleep(kPlay_ms);
    EXPECT_LT(analyser.reading("CTD_ChB"), 1e-6);
}

constexpr int kNoInput = 1, kDropout = 4, kSettling = 8, kUncalibrated = 32;

// A second analyser of the same name is renamed by the server. One whose server
// goes unlocks, reads silence under NO_INPUT, and comes back with the server,
// settling until its window has filled. A fresh sound card's analogue volts are
// uncalibrated; its digital input is not.
TEST(JackServerGoes, InputUnlocksReadsSilenceAndComesBackWithTheServerAndIsLostWhileItStops) {
    JackServer server;
    LiveAnalyser analyser, second;
    EXPECT_THAT(analyser.analyser->describe_input(),
                testing::HasSubstr("client vantel-analyser at"));
    EXPECT_THAT(second.analyser->describe_input(), testing::HasSubstr("client vantel-analyser-"));
    QThread::msleep(300);
    EXPECT_EQ(analyser.status() & ~kDropout, kUncalibrated);
    analyser.set("AnalogueInputs", "AI_FullScaleA", Value(2.0));
    EXPECT_EQ(analyser.status() & ~kDropout, 0) << "channel A is calibrated now";
    analyser.set("SignalAnalyzer", "SA_Source", Value(instrument::kDigitalDomain));
    EXPECT_EQ(analyser.frame_rate(), 48000.0);
    server.kill();
    QThread::msleep(600);
    EXPECT_EQ(analyser.frame_rate(), 0.0);
    EXPECT_EQ(analyser.reading(), 0.0);
    EXPECT_EQ(analyser.status(), kNoInput);
    ASSERT_TRUE(server.start());
    const qint64 back_ms = wait_until([&] { return analyser.frame_rate() != 0.0; }, 5000);
    EXPECT_EQ(analyser.frame_rate(), 48000.0);
    EXPECT_LT(back_ms, 2000) << "reconnects within 2 s of the server's return";
    // The new connection's first window is still filling.
    EXPECT_TRUE(analyser.status() & kSettling);
    EXPECT_GE(wait_until([&] { return analyser.status() == 0; }, 5000), 0);
    // A server stopped in its tracks sends no periods: after half a second the
    // input is lost, as one that went away, until periods come again.
    server.stop();
    QThread::msleep(800);
    EXPECT_EQ(analyser.frame_rate(), 0.0);
    EXPECT_EQ(analyser.status(), kNoInput);
    QThread::msleep(2000);
    EXPECT_EQ(analyser.status(), kNoInput) << "still stopped";
    server.resume();
    EXPECT_GE(wait_until([&] { return (analyser.status() & ~(kSettling | kDropout)) == 0; }, 5000),
              0)
        << "periods came again";
    EXPECT_EQ(analyser.frame_rate(), 48000.0);
}

// A server back at a rate that cannot carry the generator's frequency: the generator falls
// silent (nothing folds back) and keeps its setting, and plays again when the server returns at
// a rate that carries it.
TEST(JackServerGoes, BackAtALowerRateTheGeneratorIsSilentAndPlaysAgainLater) {
    JackServer server;
    LiveAnalyser analyser;
    analyser.set("Generator", "GEN_Frequency", Value(23000.0));
    analyser.set("Generator", "GEN_Level", Value(0.5));
    analyser.set("CTDetector", "CTD_WeightingFilter", Value(0));
    auto rate = [&] {
        analyser.set("SignalAnalyzer", "SA_Source", Value(instrument::kDigitalDomain));
        const double hz = analyser.frame_rate();
        analyser.set("SignalAnalyzer", "SA_Source", Value(instrument::kAnalogueDomain));
        return hz;
    };
    for (const int rate_hz : {44100, 48000}) {
        server.kill();
        QThread::msleep(600);
        ASSERT_TRUE(server.start(rate_hz));
        wait_until([&] { return rate() == rate_hz; }, 5000);
        ASSERT_EQ(rate(), rate_hz);
        patch_generator_back();
        QThread::msleep(kPlay_ms);
        if (rate_hz == 44100) {
            EXPECT_LT(analyser.reading(), 1e-3);
            EXPECT_EQ(get_member(*analyser.app, "Generator", "GEN_Frequency"), Value(23000.0));
        }
    }
    wait_until([&] { return std::abs(analyser.reading() - 0.5) < 1e-3; });
    EXPECT_NEAR(analyser.reading(), 0.5, 1e-3);
}

// An input that cannot be opened is named (a JACK server above 768 kHz with its
// rate, when the input opens); ALSA's "null" device captures digital silence in
// real time: the capture path runs, and reads 0 V.
TEST(LiveInput, OneThatCannotBeOpenedIsNamedAndAlsaNullCaptures) {
    AnalyserOptions options;
    options.input = "jack";
    {
        JackServer server(1000000);
        EXPECT_THAT(thrown<source::SourceError>([&] { Analyser{options}; }),
                    testing::HasSubstr("the JACK server's rate 1000000 Hz is above the highest "
                                       "the analyser measures at, 768000 Hz"));
    }
    qputenv("JACK_DEFAULT_SERVER", "vantel-test-nobody");
    for (auto [input, said] :
         {std::pair{"jack", "no JACK server is running"},
          {"alsa:vantel_no_such_device", "cannot open ALSA device \"vantel_no_such_device\""}}) {
        options.input = input;
        EXPECT_THAT(thrown<source::SourceError>([&] { Analyser{options}; }),
                    testing::HasSubstr(said));
    }
    options.input = "alsa:null";
    options.live.alsa_rate_hz = 44100;
    Analyser analyser(options);
    ObjectRef app = analyser.application();
    set_member(*app, "SignalAnalyzer", "SA_Source", Value(instrument::kDigitalDomain));
    QThread::msleep(300);
    EXPECT_EQ(get_member(*app, "DigitalInputs", "DI_FrameRate"), Value(std::int64_t{44100}));
    EXPECT_EQ(to_double(get_member(*app, "CTDetector", "CTD_ChA")), 0.0);
    EXPECT_THAT(analyser.describe_input(), testing::HasSubstr("44100 Hz"));
}

}  // namespace
}  // namespace vantel
