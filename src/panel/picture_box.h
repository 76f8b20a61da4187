// SPDX-License-Identifier: MIT
#pragma once

// A picture control: shows one of the panel's pictures from its top-left corner, clipped to its
// rectangle, and reports mouse presses and releases. A key's picture can be made invisible while
// the control stays in place, so that the pressed picture under it shows and the mouse stays
// captured by the key from press to release.

#include <QWidget>

#include "panel/layout_table.h"

namespace vantel {

class PictureBox final : public QWidget {
    Q_OBJECT

public:
    PictureBox(Picture picture, QWidget* parent);

    // The key picture's own visibility, separate from the control's: while it is hidden the
    // control paints nothing but keeps receiving the mouse.
    void setPictureVisible(bool visible);
    bool isPictureVisible() const { return picture_visible_; }
    // The picture is drawn at its own size times `zoom`.
    void setZoom(qreal zoom);

Q_SIGNALS:
    void pressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);
    void released(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPointF position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Picture picture_;
    bool picture_visible_ = true;
    qreal zoom_ = 1.0;
};

// The picture rendered at `zoom` times its own size for this device pixel ratio (cached; drawn
// from the vector artwork).
QPixmap panel_pixmap(Picture picture, qreal device_pixel_ratio, qreal zoom = 1.0);
// The panel itself, 267 x 539 times `zoom`.
QPixmap background_pixmap(qreal device_pixel_ratio, qreal zoom = 1.0);

}  // namespace vantel
