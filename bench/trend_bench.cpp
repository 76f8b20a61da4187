// SPDX-License-Identifier: MIT
// One repaint of the trend into an image the size of the trend window's chart: ten minutes of
// readings (3,000 points, one every 200 ms) and a full hour (18,000), which the chart decimates
// to one min/max pair per pixel column. Reports the median.
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

void repaint(benchmark::State& state, int points, double span_s) {
    TrendSeries series;
    MeterReading r;
    r.occasion = MeterReading::Occasion::Cycle;
    r.raw_unit_word = "V";
    r.function_name = "Amplitude";
    for (int i = 0; i < points; ++i) {
        r.seconds = 0.2 * i;
        r.raw_reading = 1.0 + 0.1 * std::sin(i * 0.05) + 0.01 * ((i * 7919) % 13);
        series.add(r);
    }
    TrendView view;
    view.span_s = span_s;
    QImage image(752, 380, QImage::Format_RGB32);  // the chart in a window of 760 x 420
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QPainter painter(&image);
        paint_trend(painter, image.rect(), series, view);
        painter.end();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        state.counters["median_ms"] = ms[ms.size() / 2];
}

void BM_TrendRepaint10Minutes3000Points(benchmark::State& state) {
    repaint(state, 3000, 600.0);
}
BENCHMARK(BM_TrendRepaint10Minutes3000Points)->Unit(benchmark::kMillisecond);

void BM_TrendRepaint60Minutes18000Points(benchmark::State& state) {
    repaint(state, 18000, 3600.0);
}
BENCHMARK(BM_TrendRepaint60Minutes18000Points)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantel
