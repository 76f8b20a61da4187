// SPDX-License-Identifier: MIT
// Member reads through the automation interface from our analyser in process: one
// read, the eighteen reads a full update cycle makes, and a reading that measures.
#include <benchmark/benchmark.h>

#include "automation/automation.h"
#include "instrument/analyser.h"

namespace vantel {
namespace {

void BM_ReadOneMember(benchmark::State& state) {
    Analyser analyser;
    ObjectRef app = analyser.application();
    for (auto _ : state)
        benchmark::DoNotOptimize(get_member(*app, "CTDetector", "CTD_Unit"));
}
BENCHMARK(BM_ReadOneMember);

// What one polling cycle reads on the digital input: eleven members through a sub-object,
// each after a fresh fetch of it, then the seven unit constants of the unit-class test.
void BM_ReadUpdateCycleMembers(benchmark::State& state) {
    Analyser analyser;
    ObjectRef app = analyser.application();
    set_member(*app, "SignalAnalyzer", "SA_Source", Value(1));
    struct Read {
        const char* object;
        const char* member;
    };
    constexpr Read through_sub_objects[] = {
        {"CTDetector", "CTD_Unit"},
        {"CTDetector", "CTD_WeightingFilter"},
        {"CTDetector", "CTD_Response"},
        {"CTDetector", "CTD_Relativity"},
        {"SignalAnalyzer", "SA_DefaultWeightingFilter"},
        {"CTDetector", "CTD_Function"},
        {"SignalAnalyzer", "SA_Source"},
        {"DigitalInputs", "DI_Source"},
        {"DigitalInputs", "DI_Source"},
        {"DigitalInputs", "DI_FrameRate"},
        {"CTDetector", "CTD_ChA"},
    };
    constexpr const char* constants[] = {"UNIT_SECONDS", "UNIT_FREQ_HZ", "UNIT_VP", "UNIT_VPP",
                                         "UNIT_W",       "UNIT_V",       "UNIT_HEX"};
    for (auto _ : state) {
        for (const Read& r : through_sub_objects)
            benchmark::DoNotOptimize(get_member(*app, r.object, r.member));
        for (const char* name : constants)
            benchmark::DoNotOptimize(app->get(name));
    }
    state.SetItemsProcessed(
        state.iterations() *
        static_cast<std::int64_t>(std::size(through_sub_objects) + std::size(constants)));
}
BENCHMARK(BM_ReadUpdateCycleMembers);

// One reading of channel A as a panel polling every 200 ms asks for it: the simulated device
// renders the 9600 samples since the last reading and the channel's chain measures them. Items
// are samples, so the rate is samples per second of CPU; arg 0 reads Amplitude (the default:
// A-weighted, RMS), arg 1 THD+N.
void BM_MeasuredReadingEvery200ms(benchmark::State& state) {
    double now_s = 0.0;
    AnalyserOptions options;
    options.clock = [&now_s] { return now_s; };
    Analyser analyser(options);
    ObjectRef app = analyser.application();
    if (state.range(0) == 1)
        set_member(*app, "CTDetector", "CTD_Function", Value("THD+N - relative"));
    now_s += 1.0;
    benchmark::DoNotOptimize(get_member(*app, "CTDetector", "CTD_ChA"));
    for (auto _ : state) {
        now_s += 0.2;
        benchmark::DoNotOptimize(get_member(*app, "CTDetector", "CTD_ChA"));
    }
    state.SetItemsProcessed(state.iterations() * 9600);
}
BENCHMARK(BM_MeasuredReadingEvery200ms)->Arg(0)->Arg(1);

}  // namespace
}  // namespace vantel
