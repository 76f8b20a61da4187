// SPDX-License-Identifier: MIT
#include "panel/panel_label.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantel {

void PanelLabel::mousePressEvent(QMouseEvent* event) {
    if (!interactive_)
        return QLabel::mousePressEvent(event);
    event->accept();  // keeps the mouse until the release
}

void PanelLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (!interactive_)
        return QLabel::mouseReleaseEvent(event);
    const QPointF at = event->position();
    Q_EMIT released(event->button(), at);
    if (event->button() == Qt::LeftButton && rect().contains(at.toPoint()))
        Q_EMIT clicked();
}

void PanelLabel::setZoom(const QFont& font_at_100, std::pair<int, int> visible_at_100, qreal zoom) {
    visible_at_100_ = visible_at_100;
    zoom_ = zoom;
    QFont zoomed = font_at_100;
    if (zoom != 1.0)
        zoomed.setPointSizeF(font_at_100.pointSizeF() * zoom);
    setFont(zoomed);
    fitted_.reset();
}

namespace {

struct Ink {
    qreal left, right;  // from the label's left edge
};

// Where the ink of `text` in `font` lies in a label `width` wide, placed by `alignment` as a
// label places it (by its advance), measured on the glyphs' outlines.
Ink ink_of(const QString& text, const QFont& font, Qt::Alignment alignment, qreal width) {
    const qreal advance = QFontMetricsF(font).horizontalAdvance(text);
    qreal origin = 0.0;
    if (alignment & Qt::AlignHCenter)
        origin = (width - advance) / 2.0;
    else if (alignment & Qt::AlignRight)
        origin = width - advance;
    QPainterPath outline;
    outline.addText(0.0, 0.0, font, text);
    const QRectF bounds = outline.boundingRect();
    return {origin + bounds.left(), origin + bounds.right()};
}

}  // namespace

const PanelLabel::Fitted& PanelLabel::fit(const QString& text) {
    const qreal dpr = devicePixelRatioF();
    if (fitted_ && fitted_->text == text && fitted_->zoom == zoom_ &&
        fitted_->device_pixel_ratio == dpr)
        return *fitted_;
    fitted_ = Fitted{text, zoom_, dpr, std::nullopt};
    // The columns that show, a pixel clear of their edges.
    const qreal left = visible_at_100_.first * zoom_ + 1.0;
    const qreal right = std::min<qreal>(width(), (visible_at_100_.second + 1) * zoom_) - 1.0;
    const Ink now = ink_of(text, font(), alignment(), width());
    if ((now.left >= left && now.right <= right) || right - left < 1.0)
        return *fitted_;
    QFont smaller = font();
    Ink ink = ink_of(text, smaller, Qt::AlignLeft, width());  // from the text's origin
    for (int tries = 0; tries < 8 && ink.right - ink.left > right - left; ++tries) {
        smaller.setPointSizeF(smaller.pointSizeF() *
                              std::min(0.995, (right - left) / (ink.right - ink.left)));
        ink = ink_of(text, smaller, Qt::AlignLeft, width());
    }
    // Placed by its ink where the text stood: from the left, centred or at the right.
    qreal origin = left - ink.left;
    if (alignment() & Qt::AlignHCenter)
        origin = (left + right) / 2.0 - (ink.left + ink.right) / 2.0;
    else if (alignment() & Qt::AlignRight)
        origin = right - ink.right;
    // On the baseline the label's own font has, beside its neighbours.
    fitted_->smaller = std::pair{smaller, QPointF(origin, fontMetrics().ascent())};
    return *fitted_;
}

void PanelLabel::paintEvent(QPaintEvent* event) {
    const QString shown = text();
    if (shown.isEmpty())
        return QLabel::paintEvent(event);
    if (zoom_ != 1.0 || devicePixelRatioF() != 1.0) {
        const Fitted& fitted = fit(shown);
        if (!fitted.smaller)
            return QLabel::paintEvent(event);
        QPainter painter(this);
        if (autoFillBackground())
            painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setFont(fitted.smaller->first);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(fitted.smaller->second, shown);
        return;
    }
    if (!shrink_to_fit_)
        return QLabel::paintEvent(event);
    const int needed = fontMetrics().horizontalAdvance(shown);
    if (needed <= width())
        return QLabel::paintEvent(event);
    QPainter painter(this);
    if (autoFillBackground())
        painter.fillRect(rect(), palette().color(QPalette::Window));
    QFont smaller = font();
    // Widths do not scale quite linearly with hinting: leave a little room.
    smaller.setPointSizeF(font().pointSizeF() * 0.97 * width() / needed);
    painter.setFont(smaller);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), static_cast<int>(alignment()), shown);
}

}  // namespace vantel
