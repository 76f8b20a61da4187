// SPDX-License-Identifier: MIT
// One update cycle with the status poll over D-Bus, against vantel-analyser started here on the
// session bus the benchmark finds (run it under dbus-run-session for a private one). Reports
// the median and 99th percentile of a cycle and the bus round trips it makes.
#include <benchmark/benchmark.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QProcess>
#include <QSignalSpy>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "app/environment.h"
#include "automation/dbus_backend.h"
#include "meter/meter.h"

namespace vantel {
namespace {

const QString kService = QStringLiteral("Vantel.Application");

// Our analyser on the bus for the length of one benchmark; an empty string when it is there.
std::string start_analyser(QProcess& process) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return "no D-Bus session bus (run under dbus-run-session)";
    if (bus.interface()->isServiceRegistered(kService))
        return "another process owns Vantel.Application";
    QDBusServiceWatcher watcher(kService, bus, QDBusServiceWatcher::WatchForRegistration);
    QSignalSpy registered(&watcher, &QDBusServiceWatcher::serviceRegistered);
    // From the defaults, and leaving the user's saved settings alone.
    process.start(QStringLiteral(VANTEL_ANALYSER_BINARY), {QStringLiteral("--no-restore")});
    if (!registered.wait(10000) && !bus.interface()->isServiceRegistered(kService))
        return "vantel-analyser did not come onto the bus";
    return {};
}

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[at];
}

// Arguments: whether constants and sub-object paths are asked once per analyser (1) or at every
// access (0); the input domain (0 analogue, 1 digital, which reads three members more).
void BM_DbusUpdateReadingsWithStatusPoll(benchmark::State& state) {
    QProcess analyser;
    if (const std::string problem = start_analyser(analyser); !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    auto counters = std::make_shared<DbusLinkCounters>();
    DbusLinkOptions options;
    options.resolve_constants_once = state.range(0) != 0;
    ObjectRef app;
    Environment env = standard_environment([&] {
        app = attach_dbus_application("Vantel.Application", options, counters);
        return app;
    });
    env.show_message = [](const Message&) {};
    env.end_program = [](int) {};
    auto meter = std::make_unique<Meter>(env);
    meter->start();
    meter->stop_timer();
    set_member(*app, "SignalAnalyzer", "SA_Source", Value(static_cast<int>(state.range(1))));
    // The benchmark drives the ticks itself; the first polling cycle refreshes the status words.
    auto work_tick = [&meter] {
        for (int i = 0; i < 4; ++i)
            meter->tick();
    };
    work_tick();

    std::vector<double> cycle_us;
    const std::uint64_t round_trips_before = counters->round_trips;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        work_tick();
        cycle_us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    if (meter->ended()) {
        state.SkipWithError("the cycle failed");
    } else if (!cycle_us.empty()) {
        state.counters["median_us"] = percentile(cycle_us, 0.5);
        state.counters["p99_us"] = percentile(cycle_us, 0.99);
        state.counters["round_trips"] =
            static_cast<double>(counters->round_trips - round_trips_before) /
            static_cast<double>(cycle_us.size());
    }
    meter.reset();
    app.reset();
    analyser.terminate();
    analyser.waitForFinished();
}
BENCHMARK(BM_DbusUpdateReadingsWithStatusPoll)
    ->ArgNames({"once", "digital"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0);

}  // namespace
}  // namespace vantel
