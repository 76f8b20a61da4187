// SPDX-License-Identifier: MIT
#include "panel/panel_label.h"

#include <QMouseEvent>
#include <QPainter>

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

void PanelLabel::paintEvent(QPaintEvent* event) {
    if (!shrink_to_fit_)
        return QLabel::paintEvent(event);
    const int needed = fontMetrics().horizontalAdvance(text());
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
    painter.drawText(rect(), static_cast<int>(alignment()), text());
}

}  // namespace vantel
