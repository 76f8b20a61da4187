// SPDX-License-Identifier: MIT
// The trend, drawn offscreen from readings fed in and read back by its pixels and its numbers,
// and the trend window as the panel opens it, driven with real events.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>
#include <optional>
#include <sstream>
#include <vector>

#include "csv_table.h"
#include "meter_fixture.h"
#include "recorder/recorder.h"
#include "trend/trend_window.h"

namespace vantel {
namespace {

using namespace testing_support;
using testing_support::PrintTo;
using Clock = std::chrono::system_clock;

// Colours no other element uses, so that each pixel says what drew it.
const TrendColours kColours{.background = {0, 0, 0},
                            .text = {250, 250, 250},
                            .axes = {10, 10, 10},
                            .grid = {20, 20, 20},
                            .trace = {0, 255, 0},
                            .greyed_trace = {90, 90, 90},
                            .greyed_span = {30, 30, 30},
                            .gap = {60, 0, 0},
                            .overload = {255, 0, 255},
                            .minimum = {0, 0, 255},
                            .maximum = {255, 0, 0},
                            .marker = {255, 255, 0}};
// 2026-12-07 12:00:00 UTC: the wall clock at the meter's second 0.
const Clock::time_point kWallAtZero = Clock::from_time_t(1796644800);

// One tick as the meter publishes it.
struct Tick {
    double seconds;
    std::optional<double> value;  // nothing: over range
    const char* function = "Amplitude";
    const char* unit = "V";
    const char* status = "";
    bool held = false;
    bool over = false;  // the display shows over-range
};

MeterReading reading_of(const Tick& t) {
    MeterReading r;
    r.occasion = t.held ? MeterReading::Occasion::HeldTick : MeterReading::Occasion::Cycle;
    r.held = t.held;
    r.seconds = t.seconds;
    r.function_name = t.function;
    r.raw_unit_word = t.unit;
    r.unit_class = std::string(t.unit) == "V" ? UnitClass::Ranged : UnitClass::Plain;
    r.weighting_word = "unweighted";
    r.response_word = "RMS";
    r.relativity_word = "absolute";
    r.input = "XLR / BNC";
    r.source_name = "simulated";
    r.status_words = t.status;
    r.input_lost = std::string(t.status).starts_with("NO_INPUT");
    r.raw_reading = r.input_lost || t.over ? std::nullopt : t.value;
    if (t.over) {
        r.main_reading = "OVER";
        r.unit_word = t.unit;
    } else if (t.value) {
        const DisplayText text = format_reading(*t.value, r.unit_class, t.unit);
        r.main_reading = text.reading;
        r.unit_word = text.unit;
    }
    return r;
}

// A series fed with `ticks`, its points stamped as if the wall clock ran with the meter's.
struct Fed {
    TrendSeries series;
    std::vector<MeterReading> readings;
    Clock::duration wall_offset{};  // of the wall clock's second from the meter's
    void add(const Tick& t) {
        readings.push_back(reading_of(t));
        series.wall_clock = [s = t.seconds, offset = wall_offset] {
            return kWallAtZero + offset + std::chrono::milliseconds(std::llround(s * 1000));
        };
        series.add(readings.back());
    }
    // Every 200 ms from `from_s` up to `to_s`, the value a function of the time.
    template <typename Value>
    void every_tick(double from_s, double to_s, Value value, Tick shape = {0, 0.0}) {
        for (int i = 0; from_s + 0.2 * i < to_s - 1e-9; ++i) {
            shape.seconds = from_s + 0.2 * i;
            shape.value = value(shape.seconds);
            add(shape);
        }
    }
};

const QRect kArea(0, 0, 760, 400);

struct Drawn {
    QImage image;
    TrendFrame frame;
};

Drawn draw(const TrendSeries& series, TrendView view = {}) {
    QImage image(kArea.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    const TrendFrame frame = trend_frame(series, view, kArea, painter.font());
    paint_trend(painter, kArea, series, view, kColours);
    return {image, frame};
}

// The rows of the plot where `colour` appears in pixel column x.
std::vector<int> rows_of(const Drawn& d, int x, QColor colour) {
    std::vector<int> rows;
    for (int y = static_cast<int>(d.frame.plot.top()); y < d.frame.plot.bottom(); ++y)
        if (d.image.pixelColor(x, y) == colour)
            rows.push_back(y);
    return rows;
}
int column_x(const Drawn& d, double t) {
    return static_cast<int>(d.frame.plot.left()) + d.frame.column_of(t);
}

// The title names the measurement; the numbers are those of the readings in view only, of the
// current measurement only, written as the display writes them.
TEST(Trend, TitleAndNumbersAreTheReadingsInView) {
    Fed fed;
    fed.every_tick(0, 60, [](double) { return 5.0; });  // out of the minute in view
    // A triangle from 1 V to 2 V and back over the last minute.
    const auto triangle = [](double t) {
        return 1.0 + std::fabs(std::fmod(t - 60.0, 20.0) - 10.0) / 10.0;
    };
    fed.every_tick(60, 120.2, triangle);
    TrendView one_minute;
    one_minute.span_s = 60;
    const Drawn d = draw(fed.series, one_minute);
    EXPECT_EQ(d.frame.title.toStdString(),
              "Amplitude  \u00B7  channel A  \u00B7  V  \u00B7  unweighted  \u00B7  RMS  \u00B7  "
              "simulated");
    EXPECT_EQ(d.frame.summary.readings, 300u) << "a minute of ticks";
    EXPECT_EQ(d.frame.summary.minimum, 1.0);
    EXPECT_EQ(d.frame.summary.maximum, 2.0);
    EXPECT_NEAR(d.frame.summary.mean, 1.5, 1e-12);
    EXPECT_EQ(d.frame.current.toStdString(), fed.readings.back().main_reading + " V");
    EXPECT_EQ(d.frame.minimum.toStdString(), "1.000 V");
    EXPECT_EQ(d.frame.maximum.toStdString(), "2.000 V");
    EXPECT_EQ(d.frame.mean.toStdString(), "1.500 V");
    EXPECT_EQ(d.frame.axis_unit.toStdString(), "V");
}

// After a change of function the axis is the new reading's: THD+N in % around 0.002 fills the
// plot, the amplitude's volts are a greyed span beside it and set nothing. Going back to
// Amplitude brings its earlier trace back with the new one.
TEST(Trend, TheScaleIsTheCurrentFunctionsAndEarlierOnesAreGreyed) {
    Fed fed;
    fed.every_tick(0, 300, [](double t) { return 1.0 + 0.01 * std::sin(t); });
    fed.every_tick(300, 600, [](double t) { return 0.002 + 0.0005 * std::sin(t / 10); },
                   {0, 0.0, "THD+N - relative", "%"});
    Drawn d = draw(fed.series);
    EXPECT_TRUE(
        d.frame.title.startsWith(QStringLiteral("THD+N - relative  \u00B7  channel A  \u00B7  %")))
        << d.frame.title.toStdString();
    EXPECT_LE(d.frame.v0, 0.0015);
    EXPECT_GE(d.frame.v1, 0.0025);
    EXPECT_LT(d.frame.v1 - d.frame.v0, 0.0015) << "not a scale for volts";
    EXPECT_EQ(d.frame.axis_unit.toStdString(), "%");
    // The amplitude's five minutes: greyed, without a trace, the change marked.
    const int amplitude_x = column_x(d, 150);
    EXPECT_TRUE(rows_of(d, amplitude_x, kColours.trace).empty());
    EXPECT_FALSE(rows_of(d, amplitude_x, kColours.greyed_span).empty());
    EXPECT_EQ(rows_of(d, static_cast<int>(d.frame.x(300.0)), kColours.marker).size(),
              static_cast<std::size_t>(d.frame.plot.height()));

    fed.every_tick(600, 660, [](double) { return 1.0; });
    d = draw(fed.series);
    EXPECT_EQ(d.frame.axis_unit.toStdString(), "V");
    EXPECT_FALSE(rows_of(d, column_x(d, 150), kColours.trace).empty()) << "shown again";
    EXPECT_LE(d.frame.v0, 0.99);
    EXPECT_GE(d.frame.v1, 1.01);
}

class Gap : public testing::TestWithParam<CsvRow> {};

// Ticks that are no readings break the line over a dim band; an overload is plotted and marked.
TEST_P(Gap, BreaksTheLineWhereTheReadingsWereNotReadings) {
    const CsvRow& row = GetParam();
    Fed fed;
    TrendView one_minute;
    one_minute.span_s = 60;
    fed.every_tick(0, 30, [](double) { return 1.0; });
    // The ticks from 30 s to 40 s.
    fed.every_tick(
        30, 40, [](double) { return 2.0; },
        {0, 0.0, "Amplitude", "V", row["status"].c_str(), row.flag("held"), row.flag("over")});
    fed.every_tick(40, 60, [](double) { return 1.0; });
    const Drawn d = draw(fed.series, one_minute);
    const bool plotted = row["status"] == "OVERLOAD";
    for (double t : {31.0, 35.0, 39.0}) {
        const int x = column_x(d, t);
        EXPECT_EQ(rows_of(d, x, kColours.trace).empty(), !plotted) << t;
        EXPECT_EQ(rows_of(d, x, kColours.gap).empty(), plotted) << t;
        EXPECT_EQ(
            d.image.pixelColor(x, static_cast<int>(d.frame.plot.top()) + 1) == kColours.overload,
            plotted)
            << t;
    }
    for (double t : {20.0, 50.0})
        EXPECT_EQ(rows_of(d, column_x(d, t), kColours.trace).size(), 1u) << t;
}

INSTANTIATE_TEST_SUITE_P(Cases, Gap, testing::ValuesIn(csv_beside("gaps.csv")), RowName());

class Span : public testing::TestWithParam<CsvRow> {};

// The time axis is the wall clock, hh:mm:ss, with 5 to 8 round ticks over every span; an hour of
// ticks is kept, and drawn one min/max pair per pixel column: every column of readings that
// alternate between 1 V and 2 V reaches both.
TEST_P(Span, TimeAxisIsTheWallClockAndEveryColumnKeepsItsExtremes) {
    const double span_s = GetParam().number("span_s"), step_s = GetParam().number("step_s");
    Fed fed;
    // The meter's ticks fall anywhere in the wall clock's second; a round tick is labelled round.
    fed.wall_offset = std::chrono::microseconds(123457);
    fed.every_tick(0, 3700, [](double t) { return std::lround(t * 5) % 2 ? 2.0 : 1.0; });
    EXPECT_NEAR(fed.series.traces().front().start_s(), 99.8, 1e-6) << "an hour is kept, no more";
    TrendView view;
    view.span_s = span_s;
    const Drawn d = draw(fed.series, view);
    ASSERT_GE(d.frame.time_ticks.size(), 5u);
    ASSERT_LE(d.frame.time_ticks.size(), 8u);
    for (double t : d.frame.time_ticks) {
        const qint64 ms =
            std::chrono::round<std::chrono::milliseconds>(
                (kWallAtZero + fed.wall_offset + std::chrono::microseconds(std::llround(t * 1e6)))
                    .time_since_epoch())
                .count();
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
        EXPECT_EQ(trend_time_text(fed.series, t), local.toString(QStringLiteral("hh:mm:ss")));
        EXPECT_EQ(
            std::llround((local.time().msecsSinceStartOfDay()) / 1000.0) % std::llround(step_s), 0)
            << local.toString().toStdString();
    }
    EXPECT_DOUBLE_EQ(d.frame.time_ticks[1] - d.frame.time_ticks[0], step_s);
    if (span_s < 600)
        return;  // at one minute a column is shorter than a tick
    const int y1 = static_cast<int>(std::round(d.frame.y(1.0)));
    const int y2 = static_cast<int>(std::round(d.frame.y(2.0)));
    int columns_with_both = 0;
    for (int x = column_x(d, d.frame.t_left + 2); x < column_x(d, d.frame.t_right - 1); ++x) {
        const std::vector<int> rows = rows_of(d, x, kColours.trace);
        ASSERT_FALSE(rows.empty()) << x;
        EXPECT_NEAR(rows.front(), y2, 1) << x;
        EXPECT_NEAR(rows.back(), y1, 1) << x;
        ++columns_with_both;
    }
    EXPECT_GT(columns_with_both, 250);
}

INSTANTIATE_TEST_SUITE_P(Spans, Span, testing::ValuesIn(csv_beside("spans.csv")), RowName());

class ValueAxis : public testing::TestWithParam<CsvRow> {};

TEST_P(ValueAxis, HasFiveToEightRoundTicksAroundTheReadings) {
    const CsvRow& row = GetParam();
    std::vector<double> values;
    std::istringstream listed(row["values"]);
    for (double v = 0; listed >> v;)
        values.push_back(v);
    Fed fed;
    for (std::size_t i = 0; i < values.size(); ++i)
        fed.add({0.2 * static_cast<double>(i), values[i], "Amplitude", row["unit"].c_str()});
    const Drawn d = draw(fed.series);
    const auto& ticks = d.frame.value_ticks;
    ASSERT_GE(ticks.size(), 5u);
    ASSERT_LE(ticks.size(), 8u);
    EXPECT_DOUBLE_EQ(ticks.front(), d.frame.v0);
    EXPECT_NEAR(ticks.back(), d.frame.v1, std::fabs(d.frame.v1) * 1e-12);
    const double step = ticks[1] - ticks[0];
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-6 || std::fabs(mantissa - 2) < 1e-6 ||
                std::fabs(mantissa - 2.5) < 1e-6 || std::fabs(mantissa - 5) < 1e-6)
        << step;
    for (double v : values) {
        EXPECT_GE(v, d.frame.v0);
        EXPECT_LE(v, d.frame.v1);
    }
    EXPECT_EQ(d.frame.axis_unit.toStdString(), row["axis_unit"]);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ValueAxis, testing::ValuesIn(csv_beside("value_ranges.csv")),
                         RowName());

// The window's chart drawn whole, in the window's colours and font.
QImage drawn_whole(TrendWindow& window, const TrendSeries& series) {
    TrendChart* chart = window.chart();
    QImage image(chart->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(chart->font());
    paint_trend(painter, chart->rect(), series, window.view());
    return image;
}

// The window: Pause keeps the chart where it was while the history fills, a span button changes
// what is shown, Save CSV writes the ticks in view as the log
// would have, Save PNG the chart, and Clear forgets.
TEST(TrendWindow, PausesSavesAndClears) {
    Fed fed;
    fed.every_tick(0, 120, [](double t) { return 1.0 + t / 100.0; });
    TrendWindow window(
        fed.series, {[] { return csv_header(); },
                     [](const MeterReading& r, Clock::time_point wall) { return csv_row(r, wall); },
                     {}});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto button = [&window](const char* text) {
        QToolButton* found = nullptr;
        for (QToolButton* b : window.findChildren<QToolButton*>())
            found = b->text() == QLatin1String(text) ? b : found;
        return found;
    };
    QToolButton *one_minute = button("1 min"), *pause = button("Pause"), *clear = button("Clear");
    ASSERT_TRUE(one_minute && pause && clear);
    QTest::mouseClick(one_minute, Qt::LeftButton);
    EXPECT_EQ(window.view().span_s, 60.0);
    QTest::mouseClick(pause, Qt::LeftButton);
    ASSERT_TRUE(window.view().paused_at_s);
    EXPECT_DOUBLE_EQ(*window.view().paused_at_s, fed.readings.back().seconds);
    fed.every_tick(120, 130, [](double) { return 9.0; });
    window.series_changed();
    EXPECT_DOUBLE_EQ(fed.series.now_s(), fed.readings.back().seconds) << "the history fills";

    TrendChart* chart = window.chart();
    const TrendFrame f = trend_frame(fed.series, window.view(), chart->rect(), chart->font());
    EXPECT_EQ(f.maximum.toStdString(), "2.198 V") << "the paused minute, not the 9 V after it";

    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_EQ(window.save_csv(csv).toStdString(), "");
    std::string expected = csv_header();
    int rows = 0;
    for (const MeterReading& r : fed.readings)
        if (r.seconds > f.t_left && r.seconds <= f.t_right) {
            expected +=
                csv_row(r, kWallAtZero + std::chrono::milliseconds(std::llround(r.seconds * 1000)));
            ++rows;
        }
    EXPECT_EQ(rows, 300);
    QFile saved(csv);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), expected);
    EXPECT_NE(window.save_csv(dir.filePath(QStringLiteral("no/such/folder.csv"))), QString());

    // The chart as drawn, without the readout of the mouse over it.
    QTest::mouseMove(chart, f.plot.center().toPoint());
    ASSERT_FALSE(chart->hover_text().isEmpty());
    const QString png = dir.filePath(QStringLiteral("trend.png"));
    ASSERT_EQ(window.save_png(png).toStdString(), "");
    EXPECT_EQ(QImage(png).convertToFormat(QImage::Format_RGB32), drawn_whole(window, fed.series));
    EXPECT_NE(window.save_png(dir.filePath(QStringLiteral("no/such/folder.png"))), QString());

    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(fed.series.empty());
}

// The panel feeds its trend every work tick, held ones as gaps, and closes it with itself.
TEST(TrendWindow, FollowsTheMeterAndClosesWithThePanel) {
    Shown p;
    TrendWindow* trend = p.window.open_trend();
    ASSERT_TRUE(trend->isVisible());
    for (int i = 0; i < 5; ++i)
        p.cycle_reading(Value(1.0 + i));
    p.meter.toggle_hold();
    p.work_tick();
    const TrendTrace& trace = p.window.trend().traces().back();
    ASSERT_GE(trace.points.size(), 6u);
    EXPECT_EQ(trace.points.back().gap, TrendGap::Held);
    EXPECT_EQ(trace.points[trace.points.size() - 2].raw, 5.0);
    EXPECT_EQ(trace.key.source_name, "simulated");
    p.window.close();
    EXPECT_FALSE(trend->isVisible());
}

}  // namespace
}  // namespace vantel
