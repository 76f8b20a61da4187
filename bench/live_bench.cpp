// SPDX-License-Identifier: MIT
// The analyser on a JACK input (jackd's dummy driver at 48 kHz, 256-frame periods, started
// here): the process callback's own time per period, and the time from a step in the input
// level to the changed reading over the automation interface.
#include <benchmark/benchmark.h>
#include <jack/jack.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>

#include "automation/conversions.h"
#include "instrument/analyser.h"
#include "jack_server.h"

namespace vantel {
namespace {

using Clock = std::chrono::steady_clock;

// Plays a 1 kHz sine whose amplitude can be stepped, into the analyser's in_A.
class SteppingPlayer {
public:
    SteppingPlayer() {
        jack_status_t status{};
        client_ = jack_client_open("vantel-bench-player", JackNoStartServer, &status);
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &SteppingPlayer::process, this);
        jack_activate(client_);
        jack_connect(client_, jack_port_name(port_), "vantel-analyser:in_A");
    }
    ~SteppingPlayer() { jack_client_close(client_); }
    void set_amplitude(double a) { amplitude_.store(a); }

private:
    static int process(jack_nframes_t frames, void* self) {
        auto& p = *static_cast<SteppingPlayer*>(self);
        auto* out = static_cast<float*>(jack_port_get_buffer(p.port_, frames));
        const double a = p.amplitude_.load();
        for (jack_nframes_t i = 0; i < frames; ++i, ++p.frame_)
            out[i] = static_cast<float>(a * std::sin(2.0 * std::numbers::pi * 1000.0 *
                                                     static_cast<double>(p.frame_) / 48000.0));
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<double> amplitude_{0.1};
    std::int64_t frame_ = 0;
};

Analyser jack_analyser() {
    AnalyserOptions options;
    options.input = "jack";
    options.live.connect_inputs = false;
    return Analyser(options);
}

double dbfs_a(AutomationObject& app) {
    return to_double(get_member(app, "CTDetector", "CTD_ChA"));
}

// A step of +20 dB; the time until the reading over the automation interface first moves by
// more than 1 dB, and until it is within 0.5 dB of the new level (the RMS detector's 200 ms
// window, plus what the periods and the polling add). Polled every millisecond.
void BM_JackStepToReading(benchmark::State& state) {
    testing_support::JackServer server;
    Analyser analyser = jack_analyser();
    ObjectRef app = analyser.application();
    set_member(*app, "SignalAnalyzer", "SA_Source", Value(1));
    set_member(*app, "CTDetector", "CTD_Unit", Value(32));  // dBFS
    set_member(*app, "CTDetector", "CTD_WeightingFilter", Value(0));
    SteppingPlayer player;
    double moved_ms = 0.0, settled_ms = 0.0;
    for (auto _ : state) {
        player.set_amplitude(0.1);
        QThread::msleep(600);
        const double before = dbfs_a(*app);
        const Clock::time_point step = Clock::now();
        player.set_amplitude(1.0);
        double first_move = 0.0;
        for (;;) {
            const double now_db = dbfs_a(*app);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - step).count();
            if (first_move == 0.0 && now_db > before + 1.0)
                first_move = ms;
            if (std::fabs(now_db - (before + 20.0)) < 0.5) {
                state.SetIterationTime(ms / 1000.0);
                settled_ms += ms;
                moved_ms += first_move;
                break;
            }
            QThread::msleep(1);
        }
    }
    state.counters["moved_ms"] = moved_ms / static_cast<double>(state.iterations());
    state.counters["settled_ms"] = settled_ms / static_cast<double>(state.iterations());
}
BENCHMARK(BM_JackStepToReading)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The process callback's own clock over a run of ten seconds with the panel's load of readings
// (five a second): the median and the worst time per period, against the period's length.
void BM_JackCallbackTime(benchmark::State& state) {
    testing_support::JackServer server;
    Analyser analyser = jack_analyser();
    ObjectRef app = analyser.application();
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) {
            QThread::msleep(200);
            benchmark::DoNotOptimize(dbfs_a(*app));
        }
    }
    const source::LiveStatistics& s = *analyser.input_statistics();
    constexpr double kPeriodUs = 256.0 / 48000.0 * 1e6;
    state.counters["periods"] = static_cast<double>(s.periods());
    state.counters["median_us"] = s.median_callback_us().value_or(0.0);
    state.counters["worst_us"] = s.worst_callback_us().value_or(0.0);
    state.counters["worst_of_period_pct"] = 100.0 * s.worst_callback_us().value_or(0.0) / kPeriodUs;
    state.counters["xruns"] = static_cast<double>(s.xruns());
}
BENCHMARK(BM_JackCallbackTime)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vantel
