// SPDX-License-Identifier: MIT
#pragma once

// The trend window: the chart (trend/trend_chart.h) under a row of controls: the span (1, 10 or
// 60 minutes), Pause (the chart stops following; the history keeps filling), Clear (forgets the
// history), Save PNG… and Save CSV… (the ticks in view, as the log writes them). The mouse over
// the plot reads the tick under it.

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "trend/trend_chart.h"

class QAbstractButton;

namespace vantel {

// What the window that opens the trend lends it: the log's CSV format, and where a failure to
// save goes.
struct TrendExport {
    std::function<std::string()> csv_header;
    std::function<std::string(const MeterReading&, std::chrono::system_clock::time_point)> csv_row;
    std::function<void(const std::string&)> warn;
};

// The plot itself; it takes the mouse.
class TrendChart final : public QWidget {
    Q_OBJECT

public:
    TrendChart(const TrendSeries& series, const TrendView& view, QWidget* parent);
    // What the mouse reads, as drawn beside it; empty when it reads nothing.
    QString hover_text() const;
    // The series took a tick. While the axes stay as they were, only the numbers and the newest
    // columns are drawn again: the chart at rest costs little more than the panel.
    void series_changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    const TrendSeries& series_;
    const TrendView& view_;
    std::optional<QPointF> mouse_;
    // The last frame drawn whole; its trace pointers are never followed, only its axes compared.
    std::optional<TrendFrame> drawn_;
    double drawn_now_s_ = 0.0;  // the series' latest tick when the chart was last asked to draw
};

class TrendWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kSpans_s[] = {60.0, 600.0, 3600.0};
    // The chart follows the readings once a second, as a chart recorder's pen would be seen to
    // move: the panel shows every reading, and the chart open beside it at rest then costs a
    // fifth of what a redraw per reading would.
    static constexpr int kFollow_ms = 1000;

    TrendWindow(TrendSeries& series, TrendExport exporter, QWidget* parent = nullptr);

    // The series took a tick: the chart follows it within kFollow_ms, unless paused.
    void series_changed();

    const TrendView& view() const { return view_; }
    void set_span(double span_s);
    void set_paused(bool paused);
    void clear();

    // The chart as shown (without the mouse's readout) as a PNG, and the ticks in view as CSV
    // rows under the log's header. Empty on success, else why not (naming the file).
    QString save_png(const QString& path) const;
    QString save_csv(const QString& path) const;
    std::string visible_csv() const;

    TrendChart* chart() const { return chart_; }

private:
    void choose_png();
    void choose_csv();

    TrendSeries& series_;
    TrendExport export_;
    TrendView view_;
    TrendChart* chart_ = nullptr;
    QAbstractButton* pause_ = nullptr;
    QTimer follow_;
    std::array<QAbstractButton*, std::size(kSpans_s)> span_buttons_{};
};

}  // namespace vantel
