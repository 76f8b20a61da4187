// SPDX-License-Identifier: MIT
#pragma once

// The trend drawn as an instrument chart, with QPainter:
//
//   Amplitude · channel A · V · unweighted · RMS · simulated          the title: what is measured
//   now 1.007 V   min 1.005 V   max 1.009 V   mean 1.007 V   10 min   of the readings in view
//   the plot: the value axis in the current measurement's unit (with the display's range prefix),
//             the wall-clock time axis (hh:mm:ss), a light grid at 5 to 8 round ticks on each
//
// The current measurement is the one of the latest tick in view; its readings alone set the
// scale and the numbers. Its earlier traces (the user went back to it) are drawn with it. The
// traces of other measurements are greyed: a grey band over their time, and their line in grey
// when they share the unit; they never set the scale. Ticks that are not readings leave the line
// broken over a dim band; a sample at full scale puts a red mark over the plot. A change of
// measurement is an orange line.
//
// An hour of ticks is 18,000 points; the plot is drawn from one min/max pair per pixel column.
// Columns are fixed in the meter's time (the right edge steps a column at a time), so a new tick
// changes only the last column and the picture does not shimmer as it moves.

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRect>
#include <QString>

#include <algorithm>
#include <optional>
#include <vector>

#include "trend/trend_series.h"

class QPainter;

namespace vantel {

// What the user chose to see.
struct TrendView {
    double span_s = 600.0;
    // The right edge stays at this moment of the meter's clock; nothing: it follows the latest
    // tick.
    std::optional<double> paused_at_s;
};

struct TrendColours {
    QColor background{Qt::black};
    QColor text{208, 208, 208};
    QColor axes{128, 128, 128};
    QColor grid{48, 48, 48};
    QColor trace{0, 192, 192};  // the display's cyan
    QColor greyed_trace{104, 104, 104};
    QColor greyed_span{28, 28, 28};
    QColor gap{64, 24, 24};
    QColor overload{255, 0, 0};
    QColor minimum{80, 140, 255};
    QColor maximum{240, 80, 80};
    QColor marker{255, 128, 0};  // the hold key's orange
    QColor hover{255, 255, 255};
};

// The numbers of the current measurement over the span in view.
struct TrendSummary {
    const TrendTrace* current = nullptr;  // its latest trace in view; nothing when none is
    const TrendPoint* latest = nullptr;   // its latest tick in view, a reading or not
    std::size_t readings = 0;             // plotted ticks
    double minimum = 0.0, maximum = 0.0, mean = 0.0;  // when there are readings
};

// Everything about one picture of the chart but the drawing itself.
struct TrendFrame {
    QRectF plot;
    double t_left = 0.0, t_right = 1.0;  // the meter's clock: the plot's edges
    int columns = 1;                     // pixel columns of the plot, one min/max pair each
    double columns_per_s = 1.0;          // columns / (t_right - t_left)
    double v0 = 0.0, v1 = 1.0;           // the value axis, in the trace's unit
    std::vector<double> value_ticks;
    int value_decimals = 0;          // of the tick labels, in the axis unit
    double axis_scale = 1.0;         // a value divided by this reads in the axis unit
    QString axis_unit;               // "mV": the unit with the display's range prefix
    std::vector<double> time_ticks;  // the meter's clock, at round wall-clock times
    TrendSummary summary;
    // A copy of the current measurement's key (empty without one): kept frames are compared after
    // the series has moved on.
    std::optional<TrendKey> current_key;
    QString title;                   // function, channel, unit, weighting, response, source
    QString current;                 // "1.007 V", or why the latest tick is no reading ("NO INPUT")
    QString minimum, maximum, mean;  // "1.005 V"; empty without readings

    double x(double t) const {
        return plot.left() + (t - t_left) / (t_right - t_left) * plot.width();
    }
    double y(double v) const { return plot.bottom() - (v - v0) / (v1 - v0) * plot.height(); }
    double t_at(double x) const {
        return t_left + (x - plot.left()) / plot.width() * (t_right - t_left);
    }
    // The column a moment falls in: (t_left, t_right] in `columns` steps. Inline and without a
    // division: a repaint asks it for every tick of an hour.
    int column_of(double t) const {
        const double x = (t - t_left) * columns_per_s - 1e-9;
        int c = static_cast<int>(x);  // std::ceil, without a call into the maths library
        c += c < x ? 1 : 0;
        return std::clamp(c - 1, 0, columns - 1);
    }
};

// The frame for drawing `series` into `area` with `font`.
TrendFrame trend_frame(const TrendSeries& series, const TrendView& view, const QRect& area,
                       const QFont& font);

// The time of day of a moment of the meter's clock, local: "14:05:30".
QString trend_time_text(const TrendSeries& series, double seconds);

// A value of the trace's measurement as the display writes it: "12.30 mV".
QString trend_value_text(double value, const TrendKey& key);

// The tick nearest to the plot's column at `x` among the current measurement's, and its trace;
// nothing when there is none within a few columns.
struct TrendHit {
    const TrendTrace* trace = nullptr;
    const TrendPoint* point = nullptr;
};
TrendHit trend_hit(const TrendSeries& series, const TrendFrame& frame, double x);
// "14:05:30  1.007 V": what the mouse at `x` reads; empty when it reads nothing.
QString trend_hover_text(const TrendSeries& series, const TrendFrame& frame, double x);

// Whether two frames draw the same axes, grid, title and dashed extremes (on the same rows of
// pixels): from one to the other only the numbers and the columns of the newest ticks change.
bool same_axes(const TrendFrame& a, const TrendFrame& b);

// Draws the chart into `area`, and returns the frame it drew; with `hover`, the mouse's
// crosshair and readout too. Only what lies in `dirty` needs drawing (all of it when empty): the
// texts outside it are not laid out at all.
TrendFrame paint_trend(QPainter& painter, const QRect& area, const TrendSeries& series,
                       const TrendView& view = {}, const TrendColours& colours = {},
                       std::optional<QPointF> hover = std::nullopt, const QRect& dirty = {});

}  // namespace vantel
