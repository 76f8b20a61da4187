// SPDX-License-Identifier: MIT
#include "trend/trend_window.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantel {

namespace {

// Room for the value labels on the left and the time labels below, in pixels.
constexpr int kLeftMargin = 64;
constexpr int kBottomMargin = 24;
constexpr int kRightMargin = 24;  // the last time label runs past the plot
// The value axis spans at least this share of the values' size: the resolution of four figures,
// twice over.
constexpr double kLeastSpan = 2e-3;
constexpr int kTopMargin = 8;
constexpr int kValueTicks = 5;
constexpr int kTimeTicks = 6;

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool empty() const { return low > high; }
};

// Maps the chart's data ranges onto the plot rectangle.
struct Scale {
    QRectF plot;
    double t0, t1, v0, v1;
    double x(double t) const { return plot.left() + (t - t0) / (t1 - t0) * plot.width(); }
    double y(double v) const { return plot.bottom() - (v - v0) / (v1 - v0) * plot.height(); }
};

// A round step (1, 2 or 5 times a power of ten) that cuts `span` into about `wanted` parts.
double round_step(double span, int wanted) {
    const double raw = span / wanted;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw)
            return m * decade;
    return 10.0 * decade;
}

// Calls `at` for every multiple of a round step between `low` and `high`, with its label: as
// many decimals as the step needs, so that neighbouring ticks never read the same.
template <typename At>
void round_ticks(double low, double high, int wanted, At at) {
    const double step = round_step(high - low, wanted);
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 12);
    for (double k = std::ceil(low / step); k * step <= high; k += 1.0) {
        const double v = std::fabs(k) < 0.5 ? 0.0 : k * step;  // no "-0" and no 1e-17 for zero
        at(v, QString::number(v, 'f', decimals));
    }
}

}  // namespace

void paint_trend(QPainter& painter, const QRect& area, const TrendSeries& series,
                 const TrendColours& colours) {
    painter.fillRect(area, colours.background);
    const auto& traces = series.traces();
    const QRectF plot(area.left() + kLeftMargin, area.top() + kTopMargin,
                      area.width() - kLeftMargin - kRightMargin,
                      area.height() - kBottomMargin - kTopMargin);
    painter.setPen(colours.axes);
    painter.drawRect(plot);
    if (traces.empty() || plot.width() < 2 || plot.height() < 2)
        return;

    // Time: the last ten minutes, or less while there is less.
    const double t1 = series.now_s();
    double t0 = t1 - TrendSeries::kSpan_s;
    t0 = std::max(t0, traces.front().points.empty() ? traces.front().start_s
                                                    : traces.front().points.front().seconds);
    if (t1 - t0 < 1.0)
        t0 = t1 - 1.0;

    const std::string& unit = traces.back().unit_word;
    Range values;
    for (const TrendTrace& trace : traces) {
        if (trace.unit_word != unit)
            continue;
        for (const TrendPoint& p : trace.points) {
            values.low = std::min(values.low, p.value);
            values.high = std::max(values.high, p.value);
        }
    }
    // A flat trace gets a band around it; 5 % headroom keeps the extremes off the frame.
    double v0 = values.low, v1 = values.high;
    if (values.empty()) {
        v0 = 0.0;
        v1 = 1.0;
    } else if (v1 - v0 <= std::fabs(v1) * 1e-12) {
        const double half = std::max(std::fabs(v1) * 0.1, 1e-12);
        v0 -= half;
        v1 += half;
    } else if (const double least = kLeastSpan * std::max(std::fabs(v0), std::fabs(v1));
               v1 - v0 < least) {
        // Wander finer than the display's four figures would fill the chart with noise the
        // meter itself does not show.
        const double middle = (v0 + v1) / 2.0;
        v0 = middle - least / 2.0;
        v1 = middle + least / 2.0;
    } else {
        const double pad = (v1 - v0) * 0.05;
        v0 -= pad;
        v1 += pad;
    }
    const Scale s{plot, t0, t1, v0, v1};

    // Axes: value labels in the trace's unit, time in seconds.
    const QFontMetrics metrics = painter.fontMetrics();
    round_ticks(v0, v1, kValueTicks, [&](double v, const QString& text) {
        // Right of the unit, which stands turned along the left edge.
        const QRectF box(area.left() + metrics.height() + 2, s.y(v) - metrics.height() / 2.0,
                         kLeftMargin - metrics.height() - 8, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
        painter.drawLine(QPointF(plot.left() - 4, s.y(v)), QPointF(plot.left(), s.y(v)));
    });
    round_ticks(t0, t1, kTimeTicks, [&](double t, const QString& text) {
        const QRectF box(s.x(t) - 40, plot.bottom() + 4, 80, kBottomMargin - 4);
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text + QStringLiteral(" s"));
        painter.drawLine(QPointF(s.x(t), plot.bottom()), QPointF(s.x(t), plot.bottom() + 4));
    });
    painter.save();
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.bottom(), area.left(), plot.height(), metrics.height()),
                     Qt::AlignCenter, QString::fromStdString(unit));
    painter.restore();

    painter.setClipRect(plot);
    if (!values.empty()) {
        QPen dashed(colours.minimum, 1, Qt::DashLine);
        painter.setPen(dashed);
        painter.drawLine(QPointF(plot.left(), s.y(values.low)),
                         QPointF(plot.right(), s.y(values.low)));
        dashed.setColor(colours.maximum);
        painter.setPen(dashed);
        painter.drawLine(QPointF(plot.left(), s.y(values.high)),
                         QPointF(plot.right(), s.y(values.high)));
    }
    painter.setPen(QPen(colours.marker, 1));
    for (std::size_t i = 1; i < traces.size(); ++i) {
        if (traces[i].start_s >= t0)
            painter.drawLine(QPointF(s.x(traces[i].start_s), plot.top()),
                             QPointF(s.x(traces[i].start_s), plot.bottom()));
    }
    painter.setPen(QPen(colours.trace, 1));
    QPolygonF line;
    auto draw = [&] {
        if (line.size() == 1)
            painter.drawPoint(line.front());
        else if (line.size() > 1)
            painter.drawPolyline(line);
        line.clear();
    };
    for (const TrendTrace& trace : traces) {
        if (trace.unit_word != unit || trace.points.empty())
            continue;
        line.reserve(static_cast<qsizetype>(trace.points.size()));
        for (const TrendPoint& p : trace.points) {
            if (p.after_gap)
                draw();  // no line across a lost input
            line.append(QPointF(s.x(p.seconds), s.y(p.value)));
        }
        draw();
    }
}

TrendWindow::TrendWindow(const TrendSeries& series, QWidget* parent)
    : QWidget(parent), series_(series) {
    setWindowTitle(QStringLiteral("Vantel DMM trend"));
    resize(640, 320);
}

void TrendWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint_trend(painter, rect(), series_);
}

}  // namespace vantel
