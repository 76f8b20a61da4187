// SPDX-License-Identifier: MIT
// What a logged row costs the meter's thread: formatting it and handing it to the log's writer
// thread. To /dev/null the writer keeps up; to a FIFO whose reader has stalled it cannot, and the
// meter's cost must stay the same (before the writer thread, the meter itself waited there).
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recorder/recorder.h"

namespace vantel {
namespace {

MeterReading work_tick() {
    MeterReading r;
    r.occasion = MeterReading::Occasion::Cycle;
    r.main_reading = "-89.60";
    r.unit_word = r.minimum_unit = r.maximum_unit = r.raw_unit_word = "dB";
    r.minimum = "-89.64";
    r.maximum = "-82.92";
    r.function_name = "THD+N - relative";
    r.weighting_word = "none";
    r.response_word = "RMS";
    r.relativity_word = "generator";
    r.input = "XLR / BNC";
    r.raw_reading = -89.60065762227957;
    r.seconds = 12.3456;
    return r;
}

void record_rows(benchmark::State& state, const std::string& path) {
    std::string error;
    RecorderOptions options;
    options.existing = ExistingFile::Replace;
    options.pass_column = true;
    options.queue_rows = 1u << 20;  // none dropped by the writer that keeps up
    std::unique_ptr<Recorder> log = Recorder::open(path, options, error);
    if (!log) {
        state.SkipWithError(error.c_str());
        return;
    }
    const MeterReading reading = work_tick();
    for (auto _ : state)
        log->record(reading, true);
    log->finish();
}

void BM_RecordRowToDevNull(benchmark::State& state) {
    record_rows(state, "/dev/null");
}
BENCHMARK(BM_RecordRowToDevNull)->Iterations(100000);

void BM_RecordRowToAStalledFifo(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath(QStringLiteral("rows")).toStdString();
    ::mkfifo(fifo.c_str(), 0600);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // never reads
    record_rows(state, fifo);
    ::close(reader);
}
BENCHMARK(BM_RecordRowToAStalledFifo)->Iterations(100000);

}  // namespace
}  // namespace vantel
