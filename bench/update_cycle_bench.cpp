// SPDX-License-Identifier: MIT
// One update cycle with the status poll, against the in-process simulated analyser.
#include <benchmark/benchmark.h>

#include "app/environment.h"
#include "panel/form1.h"
#include "simulator/simulator.h"

namespace vantel {
namespace {

void BM_UpdateReadingsWithStatusPoll(benchmark::State& state) {
    Simulator sim;
    FormEnvironment env = FormEnvironment::standard([&sim] { return sim.application(); });
    env.show_message = [](const Message&) {};
    env.end_program = [](int) {};
    Form1 form(env);
    form.Form_Load();
    form.Timer1.stop();  // the benchmark drives the cycle itself
    // Units from the ranged path (V) and the plain path (dBu), on the digital input.
    set_member(*sim.application(), "CTDetector", "CTD_Unit",
               Value(static_cast<int>(state.range(0))));
    set_member(*sim.application(), "SignalAnalyzer", "SA_Source", Value(1));
    form.Update_Readings();  // the first polling cycle refreshes the status words
    for (auto _ : state) {
        form.Update_Readings();
        benchmark::DoNotOptimize(form.Current_Reading);
    }
    if (form.ended())
        state.SkipWithError("the cycle failed");
}
BENCHMARK(BM_UpdateReadingsWithStatusPoll)->Arg(20)->Arg(23)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vantel
