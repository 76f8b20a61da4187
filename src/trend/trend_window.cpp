// SPDX-License-Identifier: MIT
#include "trend/trend_window.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QImage>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSaveFile>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace vantel {

TrendChart::TrendChart(const TrendSeries& series, const TrendView& view, QWidget* parent)
    : QWidget(parent), series_(series), view_(view) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 180);
}

QString TrendChart::hover_text() const {
    if (!mouse_)
        return {};
    return trend_hover_text(series_, trend_frame(series_, view_, rect(), font()), mouse_->x());
}

void TrendChart::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const bool whole = event->rect().contains(rect());
    const TrendFrame drawn =
        paint_trend(painter, rect(), series_, view_, {}, mouse_, whole ? QRect() : event->rect());
    if (whole)
        drawn_ = drawn;
}

void TrendChart::series_changed() {
    const double before_s = std::exchange(drawn_now_s_, series_.now_s());
    if (mouse_ || !drawn_ || !isVisible())
        return update();
    const TrendFrame f = trend_frame(series_, view_, rect(), font());
    if (!same_axes(f, *drawn_))
        return update();
    // The numbers' line, and the plot's columns from the tick before to the newest, a mark's
    // width either side; and the first column, where the hour's oldest ticks leave.
    const double line = QFontMetricsF(font()).height();
    const QRectF& plot = f.plot;
    const int numbers_top = static_cast<int>(4 + line);
    QRegion dirty(0, numbers_top, width(), static_cast<int>(std::ceil(plot.top())) - numbers_top);
    const int from = static_cast<int>(plot.left()) + f.column_of(before_s) - 6;
    const int to = static_cast<int>(plot.left()) + f.column_of(series_.now_s()) + 6;
    const int top = static_cast<int>(plot.top()) - 1, height = static_cast<int>(plot.height()) + 2;
    dirty += QRect(from, top, to - from + 1, height);
    dirty += QRect(static_cast<int>(plot.left()) - 1, top, 3, height);
    update(dirty);
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    mouse_ = event->position();
    update();
}

void TrendChart::leaveEvent(QEvent*) {
    mouse_.reset();
    update();
}

TrendWindow::TrendWindow(TrendSeries& series, TrendExport exporter, QWidget* parent)
    : QWidget(parent), series_(series), export_(std::move(exporter)) {
    setWindowTitle(QStringLiteral("Vantel DMM trend"));
    auto* controls = new QHBoxLayout;
    auto* spans = new QButtonGroup(this);
    for (std::size_t i = 0; i < std::size(kSpans_s); ++i) {
        const double span_s = kSpans_s[i];
        auto* button = new QToolButton(this);
        span_buttons_[i] = button;
        button->setText(QStringLiteral("%1 min").arg(span_s / 60.0));
        button->setCheckable(true);
        button->setChecked(span_s == view_.span_s);
        spans->addButton(button);
        controls->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, span_s] { set_span(span_s); });
    }
    controls->addSpacing(12);
    auto* pause = new QToolButton(this);
    pause->setText(QStringLiteral("Pause"));
    pause->setCheckable(true);
    pause->setToolTip(QStringLiteral("The chart stops following; the history keeps filling"));
    connect(pause, &QToolButton::toggled, this, &TrendWindow::set_paused);
    pause_ = pause;
    auto* clear_button = new QToolButton(this);
    clear_button->setText(QStringLiteral("Clear"));
    clear_button->setToolTip(QStringLiteral("Forget the history"));
    connect(clear_button, &QToolButton::clicked, this, &TrendWindow::clear);
    controls->addWidget(pause);
    controls->addWidget(clear_button);
    controls->addStretch();
    auto* png = new QToolButton(this);
    png->setText(QStringLiteral("Save PNG\u2026"));
    connect(png, &QToolButton::clicked, this, &TrendWindow::choose_png);
    auto* csv = new QToolButton(this);
    csv->setText(QStringLiteral("Save CSV\u2026"));
    csv->setToolTip(QStringLiteral("The readings in view, in the log's columns"));
    connect(csv, &QToolButton::clicked, this, &TrendWindow::choose_csv);
    controls->addWidget(png);
    controls->addWidget(csv);

    chart_ = new TrendChart(series_, view_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addWidget(chart_, 1);
    resize(760, 420);
    follow_.setSingleShot(true);
    follow_.setInterval(kFollow_ms);
    connect(&follow_, &QTimer::timeout, this, [this] {
        if (!view_.paused_at_s)
            chart_->series_changed();
    });
}

void TrendWindow::series_changed() {
    if (!view_.paused_at_s && isVisible() && !follow_.isActive())
        follow_.start();
}

void TrendWindow::set_span(double span_s) {
    view_.span_s = span_s;
    for (std::size_t i = 0; i < std::size(kSpans_s); ++i)
        span_buttons_[i]->setChecked(kSpans_s[i] == span_s);
    chart_->update();
}

void TrendWindow::set_paused(bool paused) {
    if (paused)
        view_.paused_at_s = series_.now_s();
    else
        view_.paused_at_s.reset();
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused);
    chart_->update();
}

void TrendWindow::clear() {
    series_.clear();
    chart_->update();
}

std::string TrendWindow::visible_csv() const {
    const TrendFrame f = trend_frame(series_, view_, chart_->rect(), chart_->font());
    std::string text = export_.csv_header();
    for (const TrendTrace& trace : series_.traces())
        for (std::size_t i = 0; i < trace.points.size(); ++i) {
            const TrendPoint& p = trace.points[i];
            if (p.seconds > f.t_left && p.seconds <= f.t_right)
                text += export_.csv_row(TrendSeries::reading_of(trace, i), p.wall);
        }
    return text;
}

QString TrendWindow::save_csv(const QString& path) const {
    QSaveFile file(path);
    const std::string text = visible_csv();
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit())
        return QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    return {};
}

QString TrendWindow::save_png(const QString& path) const {
    const qreal dpr = chart_->devicePixelRatioF();
    QImage image(chart_->size() * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    {
        QPainter painter(&image);
        painter.setFont(chart_->font());
        paint_trend(painter, chart_->rect(), series_, view_);
    }
    // Through a file renamed over the old one: a full disk never leaves half a picture.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        return QStringLiteral("%1 could not be written: %2").arg(path, writer.errorString());
    }
    if (!file.commit())
        return QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
    return {};
}

void TrendWindow::choose_png() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save the trend as PNG"), QStringLiteral("vantel-dmm-trend.png"),
        QStringLiteral("PNG images (*.png);;All files (*)"));
    if (path.isEmpty())
        return;
    if (const QString why = save_png(path); !why.isEmpty() && export_.warn)
        export_.warn(why.toStdString());
}

void TrendWindow::choose_csv() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save the readings in view as CSV"),
        QStringLiteral("vantel-dmm-trend.csv"), QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    if (const QString why = save_csv(path); !why.isEmpty() && export_.warn)
        export_.warn(why.toStdString());
}

}  // namespace vantel
