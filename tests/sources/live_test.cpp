// SPDX-License-Identifier: MIT
// The analyser on live inputs: a real JACK server (the dummy driver), its own
// generator patched back into its inputs, and ALSA's "null" device, read
// through the automation interface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <QTest>
#include <QThread>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "automation/conversions.h"
#include "csv_table.h"
#include "instrument/analyser.h"
#include "instrument/settings.h"
#include "jack_server.h"
#include "row_name.h"
#include "sources/sample_source.h"
#include "value_cell.h"

namespace vantel {
namespace {

using namespace testing_support;

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
    double get(const std::string& path) { return to_double(member_at(*app, path)); }
    // The status flags of a reading of channel A taken now.
    int status() {
        get("CTDetector.CTD_ChA");
        return to_int32(get_member(*app, "SignalAnalyzer", "SA_Status"));
    }
    std::optional<Analyser> analyser;
    ObjectRef app;
};

// Patches the analyser's generator outputs back into its inputs, channel by channel.
void patch_generator_back(const std::vector<std::string>& channels) {
    jack_status_t status{};
    jack_client_t* patch = jack_client_open("vantel-test-patch", JackNoStartServer, &status);
    ASSERT_NE(patch, nullptr);
    for (const std::string& ch : channels)
        EXPECT_EQ(jack_connect(patch, ("vantel-analyser:out_" + ch).c_str(),
                               ("vantel-analyser:in_" + ch).c_str()),
                  0);
    jack_client_close(patch);
}

// A script of live_steps.csv: the analyser on a JACK server of its own, each step's action, then
// its check at once or within its time (the dummy driver runs late on a loaded machine and
// leaves a gap in the last second, which reads a little off; a clean second comes within a few).
class LiveScript : public testing::TestWithParam<std::string> {};

TEST_P(LiveScript, EveryStepHolds) {
    JackServer server;
    LiveAnalyser analyser;
    std::optional<LiveAnalyser> second;
    int steps = 0;
    for (const CsvRow& step : testing_support::csv_beside("live_steps.csv")) {
        if (step["script"] != GetParam())
            continue;
        ++steps;
        SCOPED_TRACE(step.name);
        const auto action = testing_support::words(step["action"]);
        const std::string verb = action.empty() ? "" : action[0];
        if (verb == "set") {
            set_member_at(*analyser.app, action[1], value_cell(action[2]));
        } else if (verb == "read") {
            analyser.get(action[1]);
        } else if (verb == "patch") {
            patch_generator_back({action.begin() + 1, action.end()});
        } else if (verb == "sleep") {
            QThread::msleep(std::stoul(action[1]));
        } else if (verb == "kill" || verb == "stop" || verb == "resume") {
            verb == "kill" ? server.kill() : verb == "stop" ? server.stop() : server.resume();
        } else if (verb == "start") {
            ASSERT_TRUE(server.start(action.size() > 1 ? std::stoi(action[1]) : 0));
        } else if (verb == "second") {
            second.emplace();
        } else {
            ASSERT_EQ(verb, "") << "no such action";
        }
        // QUANTITY OP EXPECTED [TOLERANCE | ignoring BITS]; an input's description "has" a text.
        const auto check = testing_support::words(step["check"]);
        if (check.empty())
            continue;
        std::string seen;
        const auto holds = [&] {
            if (check[0].ends_with("input")) {
                seen = (check[0] == "input" ? analyser : *second).analyser->describe_input();
                return seen.find(step["check"].substr(check[0].size() + 5)) != std::string::npos;
            }
            const int ignored = check.size() > 4 ? std::stoi(check[4]) : 0;
            const double got =
                check[0] == "status" ? analyser.status() & ~ignored : analyser.get(check[0]);
            const double expected = std::stod(check[2]);
            seen = std::to_string(got);
            return check[1] == "<"   ? got < expected
                   : check[1] == "~" ? std::abs(got - expected) <= std::stod(check[3])
                   : check[1] == "has"
                       ? (static_cast<int>(got) & static_cast<int>(expected)) == expected
                       : got == expected;
        };
        EXPECT_TRUE(step["within_ms"].empty()
                        ? holds()
                        : QTest::qWaitFor(holds, std::stoi(step["within_ms"])))
            << step["check"] << ": " << seen;
    }
    EXPECT_GT(steps, 0);
}

INSTANTIATE_TEST_SUITE_P(OnJack, LiveScript,
                         testing::Values("PatchedBack", "ServerGoes", "BackAtALowerRate"),
                         [](const auto& script) { return script.param; });

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
