// SPDX-License-Identifier: MIT
// One work tick with the status poll, through the meter and the panel together, against the
// our analyser in process: four timer ticks, the last of which runs the update cycle,
// publishes the reading and has the window (not shown, as the labels need no screen) show it.
#include <benchmark/benchmark.h>

#include "app/environment.h"
#include "instrument/analyser.h"
#include "meter/meter.h"
#include "panel/panel_window.h"

namespace vantel {
namespace {

// One work tick through the meter and the window. The analyser's clock stands still, so that
// every read finds the reading it measured last: what is timed is the panel's side (the reads,
// formatting, min/max, publishing, the labels), not the analyser's measuring, which
// BM_MeasuredReadingEvery200ms times.
void BM_WorkTickThroughMeterAndPanel(benchmark::State& state) {
    double now_s = 1.0;
    AnalyserOptions options;
    options.clock = [&now_s] { return now_s; };
    Analyser analyser(options);
    now_s += 1.0;  // a second of samples to measure
    Environment env = standard_environment([&analyser] { return analyser.application(); });
    env.show_message = [](const Message&) {};
    env.end_program = [](int) {};
    Meter meter(env);
    PanelWindow window(meter, env);
    meter.start();
    meter.stop_timer();
    // Units from the ranged path (V) and the plain path (dBu), on the digital input.
    set_member(*analyser.application(), "CTDetector", "CTD_Unit",
               Value(static_cast<int>(state.range(0))));
    set_member(*analyser.application(), "SignalAnalyzer", "SA_Source", Value(1));
    for (int i = 0; i < 4; ++i)
        meter.tick();  // the first polling cycle refreshes the status words
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i)
            meter.tick();
        benchmark::DoNotOptimize(meter.reading());
    }
    if (meter.ended())
        state.SkipWithError("the cycle failed");
}
BENCHMARK(BM_WorkTickThroughMeterAndPanel)->Arg(20)->Arg(23)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vantel
