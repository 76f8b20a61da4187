// SPDX-License-Identifier: MIT
#include "panel/panel_label.h"

#include <QMouseEvent>

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

}  // namespace vantel
