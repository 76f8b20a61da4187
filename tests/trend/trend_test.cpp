// SPDX-License-Identifier: MIT
// The trend, drawn offscreen from a known series and read back pixel by pixel, and the trend
// window as the panel opens it.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <optional>
#include <vector>

#include "meter_fixture.h"
#include "trend/trend_window.h"

namespace vantel {
namespace {

using testing_support::Shown;

struct Step {
    double seconds;
    std::optional<double> value;  // nothing: over-range
    const char* unit = "V";
    MeterReading::Occasion occasion = MeterReading::Occasion::Cycle;
};

// Picks colours no other element uses, so each pixel says what drew it.
const TrendColours kColours{QColor(0, 0, 0),   QColor(10, 10, 10), QColor(0, 255, 0),
                            QColor(0, 0, 255), QColor(255, 0, 0),  QColor(255, 255, 0)};

// The plot is 600 x 300 inside the margins: x 64..664, y 8..308.
QImage render(std::initializer_list<Step> steps) {
    TrendSeries series;
    for (const Step& s : steps) {
        MeterReading r;
        r.occasion = s.occasion;
        r.seconds = s.seconds;
        r.raw_reading = s.value;
        r.raw_unit_word = s.unit;
        series.add(r);
    }
    QImage image(688, 332, QImage::Format_RGB32);
    QPainter painter(&image);
    paint_trend(painter, image.rect(), series, kColours);
    return image;
}

// The rows where `colour` appears along the column x, or the columns along the row x.
std::vector<int> rows_of(const QImage& image, int x, QColor colour, bool columns = false) {
    std::vector<int> found;
    for (int i = 0; i < (columns ? image.width() : image.height()); ++i)
        if (image.pixelColor(columns ? i : x, columns ? x : i) == colour)
            found.push_back(i);
    return found;
}

TEST(Trend, ScalesToTheReadingsWithMinimumAndMaximumLinesAndSkipsHeldAndOver) {
    // 1 V rising to 3 V over 100 s; a held tick at 100 V and an over-range between.
    const QImage image = render({{0, 1.0},
                                 {25, 1.5},
                                 {50, std::nullopt},
                                 {60, 100.0, "V", MeterReading::Occasion::HeldTick},
                                 {75, 2.5},
                                 {100, 3.0}});
    // 1 V - 5 % .. 3 V + 5 % from the bottom of the plot to its top.
    const auto y_of = [](double v) { return 308.0 - (v - 0.9) / 2.2 * 300.0; };
    const std::vector<int> min_rows = rows_of(image, 400, kColours.minimum);
    const std::vector<int> max_rows = rows_of(image, 400, kColours.maximum);
    ASSERT_EQ(min_rows.size(), 1u);
    ASSERT_EQ(max_rows.size(), 1u);
    EXPECT_NEAR(min_rows[0], y_of(1.0), 1.0);
    EXPECT_NEAR(max_rows[0], y_of(3.0), 1.0) << "the held 100 V is not in the scale";
    // The trace passes 1.5 V at 25 s.
    const std::vector<int> at_25s = rows_of(image, 64 + 600 / 4, kColours.trace);
    ASSERT_FALSE(at_25s.empty());
    EXPECT_NEAR(at_25s.front(), y_of(1.5), 2.0);
    EXPECT_TRUE(rows_of(image, 200, kColours.marker, true).empty()) << "no change, no marker";
}

TEST(Trend, AChangeOfUnitMarksTheChartAndStartsATraceOnItsOwnScale) {
    // 50 s in V around 1, then 50 s in dBu around -20.
    const QImage image = render({{0, 1.0}, {49.8, 1.2}, {50, -20.0, "dBu"}, {100, -10.0, "dBu"}});
    const std::vector<int> marker = rows_of(image, 150, kColours.marker, true);
    ASSERT_EQ(marker.size(), 1u);
    EXPECT_NEAR(marker[0], 64 + 600 / 2, 1.0);
    // Only the dBu trace is drawn: nothing of the V trace left of the marker.
    for (int x = 70; x < marker[0] - 2; x += 10)
        EXPECT_TRUE(rows_of(image, x, kColours.trace).empty()) << x;
    EXPECT_FALSE(rows_of(image, 500, kColours.trace).empty());
}

// Wander far below the display's four figures is not blown up to fill the chart: a steady
// 1 V that moves by a microvolt stays one flat line across the middle.
TEST(Trend, DoesNotMagnifyWanderBelowTheDisplaysResolution) {
    const QImage image = render({{0, 1.0}, {25, 1.000001}, {50, 0.999999}, {100, 1.0}});
    for (int x : {100, 250, 400, 600}) {
        const std::vector<int> rows = rows_of(image, x, kColours.trace);
        ASSERT_FALSE(rows.empty()) << x;
        EXPECT_LE(rows.back() - rows.front(), 1) << x;
        EXPECT_NEAR(rows.front(), 8 + 300 / 2, 2.0) << x;
    }
}

// Ten minutes are kept; a change of function or of channel starts a trace of its own. The
// window's trend follows the meter's work ticks, not its held ones.
TEST(Trend, KeepsTenMinutesATraceForEachFunctionAndChannelAndFollowsTheMeter) {
    TrendSeries series;
    MeterReading r;
    r.occasion = MeterReading::Occasion::Cycle;
    for (int i = 0; i <= 4000; ++i) {
        r.seconds = 0.2 * i;
        r.raw_reading = i;
        r.function_name = i < 500 ? "Amplitude" : "Balance";
        series.add(r);
    }
    ASSERT_EQ(series.traces().size(), 1u) << "the trace that ended before the window is gone";
    EXPECT_EQ(series.traces().front().points.size(), 3001u);
    EXPECT_DOUBLE_EQ(series.traces().front().points.front().seconds, 200.0);
    r.channel = "B";
    series.add(r);
    EXPECT_EQ(series.traces().size(), 2u);

    Shown p;
    TrendWindow* trend = p.window.open_trend();
    ASSERT_TRUE(trend->isVisible());
    for (int i = 0; i < 5; ++i)
        p.cycle_reading(Value(1.0 + i));
    p.meter.toggle_hold();
    p.work_tick();
    ASSERT_FALSE(p.window.trend().traces().empty());
    EXPECT_EQ(p.window.trend().traces().back().points.size(), 5u) << "held ticks add nothing";
    EXPECT_EQ(p.window.trend().traces().back().points.back().value, 5.0);
    p.window.close();
    EXPECT_FALSE(trend->isVisible());
}

}  // namespace
}  // namespace vantel
