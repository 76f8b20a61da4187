// SPDX-License-Identifier: MIT
// One repaint of the trend with ten minutes of readings (3,000 points, one every 200 ms) into an
// image the size of the trend window; reports the median.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "trend/trend_window.h"

namespace vantel {
namespace {

void BM_TrendRepaint3000Points(benchmark::State& state) {
    TrendSeries series;
    MeterReading r;
    r.occasion = MeterReading::Occasion::Cycle;
    r.raw_unit_word = "V";
    r.function_name = "Amplitude";
    for (int i = 0; i < 3000; ++i) {
        r.seconds = 0.2 * i;
        r.raw_reading = 1.0 + 0.1 * std::sin(i * 0.05) + 0.01 * ((i * 7919) % 13);
        series.add(r);
    }
    QImage image(640, 320, QImage::Format_RGB32);
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QPainter painter(&image);
        paint_trend(painter, image.rect(), series);
        painter.end();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        state.counters["median_ms"] = ms[ms.size() / 2];
}
BENCHMARK(BM_TrendRepaint3000Points)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantel
