// SPDX-License-Identifier: MIT
#include "trend/trend_chart.h"
#include "automation/qt_text.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QStaticText>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vantel {

namespace {

// The value axis spans at least this share of the values' size: the resolution of four figures,
// twice over. Wander finer than the display shows would fill the chart with noise.
constexpr double kLeastSpan = 2e-3;
// A tick at most this many columns from the mouse is the one it reads.
constexpr int kHitColumns = 4;

const QString kSeparator = QStringLiteral("  \u00B7  ");

// The ticks [first, last) of `trace` in (t_left, t_right].
std::pair<std::size_t, std::size_t> in_view(const TrendTrace& trace, double t_left,
                                            double t_right) {
    const auto& p = trace.points;
    const auto first = std::upper_bound(
        p.begin(), p.end(), t_left, [](double t, const TrendPoint& q) { return t < q.seconds; });
    const auto last = std::upper_bound(first, p.end(), t_right,
                                       [](double t, const TrendPoint& q) { return t < q.seconds; });
    return {static_cast<std::size_t>(first - p.begin()),
            static_cast<std::size_t>(last - p.begin())};
}

bool shows(const TrendTrace& trace, double t_left, double t_right) {
    const auto [first, last] = in_view(trace, t_left, t_right);
    return first < last;
}

struct ValueAxis {
    double v0, v1, step;
    double multiplier;  // of the step's power of ten
};

// Decimals that tell neighbouring ticks apart, for labels in a unit `scale` times the raw one.
int label_decimals(const ValueAxis& axis, double scale) {
    const int decimals = static_cast<int>(-std::floor(std::log10(axis.step / scale) + 1e-9));
    return std::clamp(decimals + (axis.multiplier == 2.5 ? 1 : 0), 0, 15);
}

// A round step (1, 2, 2.5 or 5 times a power of ten; no two neighbours more than twice apart) that
// cuts [low, high], widened to whole steps, into 4 to 7 parts: 5 to 8 ticks.
ValueAxis value_axis(double low, double high) {
    if (low > high) {
        low = 0.0;
        high = 1.0;
    }
    const double size = std::max(std::fabs(low), std::fabs(high));
    if (high - low <= size * 1e-12) {
        const double half = size > 0.0 ? size * 0.1 : 1.0;
        low -= half;
        high += half;
    } else if (const double least = kLeastSpan * size; high - low < least) {
        const double middle = (low + high) / 2.0;
        low = middle - least / 2.0;
        high = middle + least / 2.0;
    }
    // A little room so that the extremes stay off the frame.
    const double pad = (high - low) * 0.02;
    low -= pad;
    high += pad;
    constexpr std::array kMultipliers{1.0, 2.0, 2.5, 5.0};
    double decade = std::pow(10.0, std::floor(std::log10((high - low) / 10.0)));
    for (int tries = 0; tries < 40; ++tries, decade *= 10.0) {
        for (double m : kMultipliers) {
            const double step = m * decade;
            const double k0 = std::floor(low / step), k1 = std::ceil(high / step);
            if (k1 - k0 <= 7.0)
                return {k0 * step, k1 * step, step, m};
        }
    }
    return {low, high, high - low, 1.0};
}

// Round steps of wall-clock time: 5 to 8 of them fill 1, 10 or 60 minutes.
constexpr std::array kTimeSteps_s{1.0,    2.0,    5.0,    10.0,   15.0,   20.0,
                                  30.0,   60.0,   120.0,  300.0,  600.0,  900.0,
                                  1200.0, 1800.0, 3600.0, 7200.0, 14400.0};

// Seconds since the epoch in local time of the moment `seconds` of the meter's clock.
double local_epoch_s(const TrendSeries& series, double seconds) {
    const auto wall = series.wall_at(seconds);
    const qint64 ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
    // The time zone's offset, looked up once a quarter of an hour (zones change their offsets on
    // such boundaries): each lookup asks the system's zone data, and the chart asks every tick.
    constexpr qint64 kQuarterHour_ms = 15 * 60 * 1000;
    static qint64 looked_up_quarter = std::numeric_limits<qint64>::min();
    static int offset_s = 0;
    if (const qint64 quarter = ms / kQuarterHour_ms; quarter != looked_up_quarter) {
        offset_s = QDateTime::fromMSecsSinceEpoch(quarter * kQuarterHour_ms).offsetFromUtc();
        looked_up_quarter = quarter;
    }
    return std::chrono::duration<double>(wall.time_since_epoch()).count() + offset_s;
}

std::vector<double> time_ticks(const TrendSeries& series, double t_left, double t_right) {
    // Local wall-clock time is the meter's clock plus `base`.
    const double base = local_epoch_s(series, t_right) - t_right;
    for (double step : kTimeSteps_s) {
        const double k0 = std::ceil((t_left + base) / step);
        const double k1 = std::floor((t_right + base) / step);
        if (k1 - k0 + 1.0 <= 8.0) {
            std::vector<double> ticks;
            for (double k = k0; k <= k1; k += 1.0)
                ticks.push_back(k * step - base);
            return ticks;
        }
    }
    return {};
}

QString gap_word(TrendGap gap) {
    switch (gap) {
        case TrendGap::NoInput:
            return QStringLiteral("NO INPUT");
        case TrendGap::Dropout:
            return QStringLiteral("DROPOUT");
        case TrendGap::InvalidSamples:
            return QStringLiteral("INVALID SAMPLES");
        case TrendGap::Held:
            return QStringLiteral("HELD");
        case TrendGap::Over:
            return QStringLiteral("OVER");
        case TrendGap::None:
            break;
    }
    return {};
}

QString span_text(double span_s) {
    return span_s >= 60.0 ? QStringLiteral("%1 min").arg(span_s / 60.0)
                          : QStringLiteral("%1 s").arg(span_s);
}

// The width of a short text from its characters' advances, which the font keeps, without laying
// the text out: a repaint measures a dozen labels, and shaping each costs more than drawing it.
// Kerning is left out; the margins and spacing this sets have room for it.
double advance_of(const QFontMetricsF& metrics, const QString& text) {
    double width = 0.0;
    for (const QChar c : text)
        width += metrics.horizontalAdvance(c);
    return width;
}

// Draws one of the texts the chart shows at every tick ("min ", "1.004 V"), laid out once and
// kept: at rest the chart's cost is mostly laying its numbers out again.
void draw_kept(QPainter& painter, QPointF top_left, const QString& text) {
    static QHash<QString, QStaticText> kept;
    if (kept.size() > 64)
        kept.clear();  // the current value and the mean change every tick
    auto it = kept.find(text);
    if (it == kept.end()) {
        it = kept.insert(text, QStaticText(text));
        it->setTextFormat(Qt::PlainText);
    }
    painter.drawStaticText(top_left, *it);
}

// The min/max pair of one pixel column, with the first and last value to join its neighbours.
struct Column {
    double low = 0.0, high = 0.0, first = 0.0, last = 0.0;
    bool has = false;
    bool break_before = false;  // ticks that were no readings came since the previous value
};

// Every column of the plot, from one walk over the ticks in view: the current measurement's
// min/max pairs, those of the greyed traces that share its unit, and whether the column holds a
// tick that was no reading or a sample at full scale.
struct Sweep {
    std::vector<Column> current, greyed;
    std::vector<char> gap, overload;
};

void sweep(const TrendSeries& series, const TrendFrame& f, const TrendKey* current, Sweep& out) {
    const auto columns = static_cast<std::size_t>(f.columns);
    out.current.assign(columns, Column{});
    out.greyed.assign(columns, Column{});
    out.gap.assign(columns, 0);
    out.overload.assign(columns, 0);
    for (const TrendTrace& trace : series.traces()) {
        std::vector<Column>* into = nullptr;
        if (current && trace.key == *current)
            into = &out.current;
        else if (current && trace.key.same_unit(*current))
            into = &out.greyed;
        const auto [first, last] = in_view(trace, f.t_left, f.t_right);
        const auto end = trace.points.begin() + static_cast<std::ptrdiff_t>(last);
        bool pending_gap = true;  // a line never joins two traces
        for (auto p = trace.points.begin() + static_cast<std::ptrdiff_t>(first); p != end; ++p) {
            const auto i = static_cast<std::size_t>(f.column_of(p->seconds));
            out.overload[i] |= static_cast<char>(p->overload);
            if (!p->plotted()) {
                out.gap[i] = 1;
                pending_gap = true;
                continue;
            }
            if (!into)
                continue;
            Column& c = (*into)[i];
            if (!c.has) {
                c = {p->raw, p->raw, p->raw, p->raw, true, pending_gap};
            } else {
                c.low = std::min(c.low, p->raw);
                c.high = std::max(c.high, p->raw);
                c.last = p->raw;
            }
            pending_gap = false;
        }
    }
}

// The line through the columns' pairs. A column next to the one before it is a vertical span
// from the previous value to its own extremes: a noisy hour is hundreds of tall strokes, and a
// span is a fill where a stroke is drawn pixel by pixel. Columns further apart are joined by a
// line. Columns are one pixel wide (the plot's width is a whole number of them).
void draw_columns(QPainter& painter, const TrendFrame& f, const std::vector<Column>& columns,
                  const QColor& colour) {
    std::vector<QRect> spans;
    std::vector<QLineF> joins;
    spans.reserve(columns.size());
    std::optional<QPointF> previous;  // the last value drawn, unless the line broke since
    int previous_column = -2;
    for (int i = 0; i < f.columns; ++i) {
        const Column& c = columns[static_cast<std::size_t>(i)];
        if (!c.has)
            continue;  // an empty column between two values is only a tick that fell elsewhere
        if (c.break_before)
            previous.reset();
        const double x = f.plot.left() + i + 0.5;
        double top = f.y(c.high), bottom = f.y(c.low);
        if (previous && i == previous_column + 1) {
            top = std::min(top, previous->y());
            bottom = std::max(bottom, previous->y());
        } else if (previous) {
            joins.emplace_back(*previous, QPointF(x, f.y(c.first)));
        }
        const int row = static_cast<int>(std::floor(top));
        spans.emplace_back(static_cast<int>(std::floor(x)), row, 1,
                           static_cast<int>(std::floor(bottom)) - row + 1);
        previous = QPointF(x, f.y(c.last));
        previous_column = i;
    }
    // Each in one call: the paint engine's cost is mostly per call.
    painter.setPen(QPen(colour, 0));
    painter.drawLines(joins.data(), static_cast<int>(joins.size()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRects(spans.data(), static_cast<int>(spans.size()));
    painter.setBrush(Qt::NoBrush);
}

}  // namespace

QString trend_value_text(double value, const TrendKey& key) {
    const DisplayText text = format_reading(value, key.unit_class, key.unit_word);
    return text.unit.empty() ? to_qstring(text.reading)
                             : to_qstring(text.reading + ' ' + text.unit);
}

QString trend_time_text(const TrendSeries& series, double seconds) {
    // Rounded, not cut: a round tick comes back from the meter's clock a nanosecond early.
    const qint64 ms =
        std::chrono::round<std::chrono::milliseconds>(series.wall_at(seconds).time_since_epoch())
            .count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss"));
}

TrendFrame trend_frame(const TrendSeries& series, const TrendView& view, const QRect& area,
                       const QFont& font) {
    TrendFrame f;
    const auto& traces = series.traces();

    // Time: the span, ending at the latest tick (or where the view was paused), rounded up to a
    // whole column. The columns are needed before the margins are known; they are settled below.
    const QFontMetricsF metrics(font);
    const double line = metrics.height();
    // The title, the numbers, and room for half the top value label above the plot.
    const double header = std::ceil(2.5 * line + 12);
    const double footer = std::ceil(line + 8);
    const double right = std::ceil(advance_of(metrics, QStringLiteral("00:00:00")) / 2 + 6);
    const double now = view.paused_at_s.value_or(series.now_s());

    // The current measurement: the latest trace with a tick in view, whatever the columns.
    const double rough_left = now - view.span_s;
    for (auto it = traces.rbegin(); it != traces.rend(); ++it)
        if (shows(*it, rough_left, now + view.span_s)) {
            f.summary.current = &*it;
            break;
        }
    if (!f.summary.current && !traces.empty())
        f.summary.current = &traces.back();

    // The margins depend on the value labels, which depend on the readings in view: first the
    // numbers over the rough span, then the exact one.
    auto summarise = [&](double t_left, double t_right) {
        TrendSummary& s = f.summary;
        s.latest = nullptr;
        s.readings = 0;
        double low = std::numeric_limits<double>::infinity();
        double high = -low, sum = 0.0;
        for (const TrendTrace& trace : traces) {
            if (!s.current || trace.key != s.current->key)
                continue;
            const auto [first, last] = in_view(trace, t_left, t_right);
            const auto end = trace.points.begin() + static_cast<std::ptrdiff_t>(last);
            for (auto it = trace.points.begin() + static_cast<std::ptrdiff_t>(first); it != end;
                 ++it) {
                const TrendPoint& p = *it;
                s.latest = &p;
                if (!p.plotted())
                    continue;
                low = std::min(low, p.raw);
                high = std::max(high, p.raw);
                sum += p.raw;
                ++s.readings;
            }
        }
        if (s.readings > 0) {
            s.minimum = low;
            s.maximum = high;
            s.mean = sum / static_cast<double>(s.readings);
        }
    };

    QRectF plot;
    for (int pass = 0; pass < 2; ++pass) {
        double t_left = rough_left, t_right = now;
        if (pass == 1) {
            f.columns = std::max(1, static_cast<int>(plot.width()));
            const double column_s = view.span_s / f.columns;
            f.t_right = std::ceil(now / column_s - 1e-9) * column_s;
            f.t_left = f.t_right - view.span_s;
            f.columns_per_s = f.columns / view.span_s;
            t_left = f.t_left;
            t_right = f.t_right;
        }
        summarise(t_left, t_right);
        const ValueAxis axis = f.summary.readings > 0
                                   ? value_axis(f.summary.minimum, f.summary.maximum)
                                   : value_axis(1.0, 0.0);
        f.v0 = axis.v0;
        f.v1 = axis.v1;
        f.value_ticks.clear();
        for (double k = std::round(axis.v0 / axis.step);
             k * axis.step <= axis.v1 + axis.step * 1e-9; k += 1.0)
            f.value_ticks.push_back(std::fabs(k) < 0.5 ? 0.0 : k * axis.step);

        // The display's range prefix for the axis, chosen by its largest value.
        f.axis_scale = 1.0;
        f.axis_unit.clear();
        if (f.summary.current) {
            const TrendKey& key = f.summary.current->key;
            f.axis_unit = to_qstring(key.unit_word);
            const double size = std::max(std::fabs(f.v0), std::fabs(f.v1));
            const std::optional<double> scaled = Autorange_reading(size);
            const std::optional<std::string> unit = Autorange_Units(size, key.unit_word);
            if (key.unit_class == UnitClass::Ranged && scaled && unit && *scaled != 0.0) {
                f.axis_scale = std::pow(10.0, std::round(std::log10(size / *scaled)));
                f.axis_unit = to_qstring(*unit);
            }
        }
        f.value_decimals = label_decimals(axis, f.axis_scale);
        double widest = 0.0;
        for (double v : f.value_ticks)
            widest = std::max(widest, advance_of(metrics, QString::number(v / f.axis_scale, 'f',
                                                                          f.value_decimals)));
        const double left = std::ceil(line + 6 + widest + 8);
        plot = QRectF(area.left() + left, area.top() + header,
                      std::max(1.0, std::floor(area.width() - left - right)),
                      std::max(1.0, std::floor(area.height() - header - footer)));
    }
    f.plot = plot;
    if (!traces.empty())
        f.time_ticks = time_ticks(series, f.t_left, f.t_right);

    if (const TrendTrace* current = f.summary.current) {
        const TrendKey& key = current->key;
        f.current_key = key;
        QStringList parts{to_qstring(key.function_name),
                          QStringLiteral("channel ") + to_qstring(key.channel),
                          to_qstring(key.unit_word), to_qstring(key.weighting_word),
                          to_qstring(key.response_word)};
        if (!key.source_name.empty())
            parts.append(to_qstring(key.source_name));
        f.title = parts.join(kSeparator);
        if (f.summary.latest)
            f.current = f.summary.latest->plotted() ? trend_value_text(f.summary.latest->raw, key)
                                                    : gap_word(f.summary.latest->gap);
        if (f.summary.readings > 0) {
            f.minimum = trend_value_text(f.summary.minimum, key);
            f.maximum = trend_value_text(f.summary.maximum, key);
            f.mean = trend_value_text(f.summary.mean, key);
        }
    }
    return f;
}

TrendHit trend_hit(const TrendSeries& series, const TrendFrame& f, double x) {
    TrendHit hit;
    if (!f.summary.current || x < f.plot.left() || x > f.plot.right())
        return hit;
    const double t = f.t_at(x);
    double best = kHitColumns * (f.t_right - f.t_left) / f.columns;
    for (const TrendTrace& trace : series.traces()) {
        if (trace.key != f.summary.current->key)
            continue;
        const auto [first, last] = in_view(trace, f.t_left, f.t_right);
        const auto begin = trace.points.begin() + static_cast<std::ptrdiff_t>(first);
        const auto end = trace.points.begin() + static_cast<std::ptrdiff_t>(last);
        const auto after = std::lower_bound(
            begin, end, t, [](const TrendPoint& p, double s) { return p.seconds < s; });
        for (auto it : {after - (after != begin ? 1 : 0), after}) {
            if (it == end)
                continue;
            const double distance = std::fabs(it->seconds - t);
            if (distance <= best) {
                best = distance;
                hit = {&trace, &*it};
            }
        }
    }
    return hit;
}

QString trend_hover_text(const TrendSeries& series, const TrendFrame& f, double x) {
    const TrendHit hit = trend_hit(series, f, x);
    if (!hit.point)
        return {};
    return trend_time_text(series, hit.point->seconds) + QStringLiteral("  ") +
           (hit.point->plotted() ? trend_value_text(hit.point->raw, hit.trace->key)
                                 : gap_word(hit.point->gap));
}

bool same_axes(const TrendFrame& a, const TrendFrame& b) {
    // The time ticks are round wall-clock times on the meter's clock, which drift apart by
    // microseconds from tick to tick: compared by the pixel column their grid line takes.
    const auto same_columns = [&] {
        if (a.time_ticks.size() != b.time_ticks.size())
            return false;
        for (std::size_t i = 0; i < a.time_ticks.size(); ++i)
            if (std::floor(a.x(a.time_ticks[i])) != std::floor(b.x(b.time_ticks[i])))
                return false;
        return true;
    };
    const bool readings = a.summary.readings > 0;
    return a.plot == b.plot && a.t_left == b.t_left && a.t_right == b.t_right &&
           a.columns == b.columns && a.v0 == b.v0 && a.v1 == b.v1 &&
           a.value_ticks == b.value_ticks && a.value_decimals == b.value_decimals &&
           a.axis_scale == b.axis_scale && a.axis_unit == b.axis_unit && same_columns() &&
           a.title == b.title && a.current_key == b.current_key &&
           readings == (b.summary.readings > 0) &&
           // The dashed extremes on the same rows of pixels.
           (!readings ||
            (std::round(a.y(a.summary.minimum)) == std::round(b.y(b.summary.minimum)) &&
             std::round(a.y(a.summary.maximum)) == std::round(b.y(b.summary.maximum))));
}

TrendFrame paint_trend(QPainter& painter, const QRect& area, const TrendSeries& series,
                       const TrendView& view, const TrendColours& colours,
                       std::optional<QPointF> hover, const QRect& dirty) {
    painter.save();
    const TrendFrame f = trend_frame(series, view, area, painter.font());
    // Laying out a text costs more than drawing it: those that fall outside are skipped.
    const auto needed = [&dirty](const QRectF& r) { return dirty.isNull() || r.intersects(dirty); };
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    painter.fillRect(area, colours.background);

    // The title and the numbers.
    const QFont normal = painter.font();
    QFont bold = normal;
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(colours.text);
    const double text_left = area.left() + 8;
    if (const QRectF title(text_left, area.top() + 4, area.width() - 16, line); needed(title))
        painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                         f.title.isEmpty() ? QStringLiteral("No readings yet") : f.title);
    painter.setFont(normal);
    double x = text_left;
    const double numbers_top = area.top() + 4 + line + 4;
    const auto number = [&](const QString& label, const QString& value, const QColor& colour) {
        painter.setPen(colours.text);
        draw_kept(painter, QPointF(x, numbers_top), label);
        x += advance_of(metrics, label);
        painter.setPen(colour);
        const QString shown = value.isEmpty() ? QStringLiteral("\u2014") : value;
        draw_kept(painter, QPointF(x, numbers_top), shown);
        x += advance_of(metrics, shown) + 4 * metrics.horizontalAdvance(QLatin1Char(' '));
    };
    number(QStringLiteral("now "), f.current, colours.trace);
    number(QStringLiteral("min "), f.minimum, colours.minimum);
    number(QStringLiteral("max "), f.maximum, colours.maximum);
    number(QStringLiteral("mean "), f.mean, colours.text);
    painter.setPen(colours.text);
    draw_kept(painter, QPointF(x, numbers_top),
              view.paused_at_s
                  ? QStringLiteral("paused at %1, %2 shown")
                        .arg(trend_time_text(series, *view.paused_at_s), span_text(view.span_s))
                  : QStringLiteral("last %1").arg(span_text(view.span_s)));

    const QRectF& plot = f.plot;
    const double column_width = plot.width() / f.columns;
    const auto column_left = [&](int c) { return plot.left() + c * column_width; };
    const auto& traces = series.traces();
    const TrendKey* current = f.summary.current ? &f.summary.current->key : nullptr;

    // Greyed spans of the other measurements, with what they were where there is room.
    painter.setClipRect(plot);
    for (const TrendTrace& trace : traces) {
        if (!current || trace.key == *current || !shows(trace, f.t_left, f.t_right))
            continue;
        const double x0 = f.x(std::max(trace.start_s(), f.t_left));
        const double x1 = std::max(f.x(std::min(trace.end_s(), f.t_right)), x0 + 1.0);
        painter.fillRect(QRectF(x0, plot.top(), x1 - x0, plot.height()), colours.greyed_span);
        const QString what = to_qstring(trace.key.function_name) + QLatin1Char(' ') +
                             to_qstring(trace.key.unit_word);
        if (needed(QRectF(x0, plot.top(), x1 - x0, plot.height())) &&
            metrics.horizontalAdvance(what) + 6 < x1 - x0) {
            painter.setPen(colours.greyed_trace);
            painter.drawText(QPointF(x0 + 3, plot.bottom() - 4 - metrics.descent()), what);
        }
    }
    // Ticks that were no readings: a dim band over their columns; a sample at full scale: a mark.
    Sweep swept;
    sweep(series, f, current, swept);
    const std::vector<char>& gap = swept.gap;
    const std::vector<char>& overload = swept.overload;
    for (int c = 0; c < f.columns;) {
        if (!gap[static_cast<std::size_t>(c)]) {
            ++c;
            continue;
        }
        int end = c;
        while (end < f.columns && gap[static_cast<std::size_t>(end)])
            ++end;
        painter.fillRect(
            QRectF(column_left(c), plot.top(), column_left(end) - column_left(c), plot.height()),
            colours.gap);
        c = end;
    }

    // The grid, then the frame and the labels outside it.
    painter.setPen(QPen(colours.grid, 0));
    for (double v : f.value_ticks)
        painter.drawLine(QPointF(plot.left(), std::round(f.y(v)) + 0.5),
                         QPointF(plot.right(), std::round(f.y(v)) + 0.5));
    for (double t : f.time_ticks)
        painter.drawLine(QPointF(std::floor(f.x(t)) + 0.5, plot.top()),
                         QPointF(std::floor(f.x(t)) + 0.5, plot.bottom()));
    painter.setClipping(false);
    painter.setPen(QPen(colours.axes, 0));
    painter.drawRect(plot.adjusted(-0.5, -0.5, 0.5, 0.5));
    painter.setPen(colours.text);
    for (double v : f.value_ticks) {
        const QRectF box(area.left() + line + 6, f.y(v) - line / 2,
                         plot.left() - 8 - (area.left() + line + 6), line);
        if (needed(box))
            painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(v / f.axis_scale, 'f', f.value_decimals));
    }
    for (double t : f.time_ticks) {
        const QRectF box(f.x(t) - 50, plot.bottom() + 4, 100, line);
        if (needed(box))
            painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, trend_time_text(series, t));
    }
    if (needed(QRectF(area.left(), plot.top(), line + 2, plot.height()))) {
        painter.save();
        painter.rotate(-90);
        painter.drawText(QRectF(-plot.bottom(), area.left() + 2, plot.height(), line),
                         Qt::AlignCenter, f.axis_unit);
        painter.restore();
    }

    painter.setClipRect(plot);
    if (f.summary.readings > 0) {
        QPen dashed(colours.minimum, 0, Qt::DashLine);
        painter.setPen(dashed);
        const double y_min = std::round(f.y(f.summary.minimum)) + 0.5;
        painter.drawLine(QPointF(plot.left(), y_min), QPointF(plot.right(), y_min));
        dashed.setColor(colours.maximum);
        painter.setPen(dashed);
        const double y_max = std::round(f.y(f.summary.maximum)) + 0.5;
        painter.drawLine(QPointF(plot.left(), y_max), QPointF(plot.right(), y_max));
    }

    // The traces: greyed ones of the same unit first, then the current measurement over them.
    if (current) {
        draw_columns(painter, f, swept.greyed, colours.greyed_trace);
        draw_columns(painter, f, swept.current, colours.trace);
    } else {
        painter.setPen(colours.text);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No readings in view"));
    }
    if (current && f.summary.readings == 0) {
        painter.setPen(colours.text);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No readings in view"));
    }
    // Where the measurement changed.
    painter.setPen(QPen(colours.marker, 0));
    for (std::size_t i = 1; i < traces.size(); ++i) {
        const double start = traces[i].start_s();
        if (start > f.t_left && start <= f.t_right)
            painter.drawLine(QPointF(std::floor(f.x(start)) + 0.5, plot.top()),
                             QPointF(std::floor(f.x(start)) + 0.5, plot.bottom()));
    }
    // Overload: a red triangle pointing down from the top of the plot.
    painter.setPen(Qt::NoPen);
    painter.setBrush(colours.overload);
    for (int c = 0; c < f.columns; ++c) {
        if (!overload[static_cast<std::size_t>(c)])
            continue;
        const double middle = column_left(c) + column_width / 2;
        const QPointF mark[3] = {
            {middle - 4, plot.top()}, {middle + 4, plot.top()}, {middle, plot.top() + 6}};
        painter.drawPolygon(mark, 3);
    }
    painter.setBrush(Qt::NoBrush);

    // The mouse: a line at the tick it reads, and what it reads.
    if (hover && plot.contains(*hover)) {
        const TrendHit hit = trend_hit(series, f, hover->x());
        const QString text = trend_hover_text(series, f, hover->x());
        if (hit.point) {
            const double hx = std::floor(f.x(hit.point->seconds)) + 0.5;
            painter.setPen(QPen(colours.hover, 0, Qt::DotLine));
            painter.drawLine(QPointF(hx, plot.top()), QPointF(hx, plot.bottom()));
            if (hit.point->plotted()) {
                painter.setPen(QPen(colours.hover, 0));
                painter.drawRect(QRectF(hx - 3, std::round(f.y(hit.point->raw)) - 2.5, 6, 6));
            }
            const double width = metrics.horizontalAdvance(text) + 8;
            double left = hx + 6;
            if (left + width > plot.right())
                left = hx - 6 - width;
            const QRectF box(left, plot.top() + 4, width, line + 4);
            painter.fillRect(box, colours.background);
            painter.setPen(QPen(colours.hover, 0));
            painter.drawRect(box);
            painter.drawText(box, Qt::AlignCenter, text);
        }
    }
    painter.restore();
    return f;
}

}  // namespace vantel
