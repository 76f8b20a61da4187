// SPDX-License-Identifier: MIT
#pragma once

// A text control of the panel. Most only show text; a few legends and the knob area take the
// mouse: they then keep it from press to release, and a click is a press and a release inside.

#include <QLabel>

namespace vantel {

class PanelLabel final : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;
    void setInteractive(bool interactive) { interactive_ = interactive; }

Q_SIGNALS:
    void released(Qt::MouseButton button, QPointF position);
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool interactive_ = false;
};

}  // namespace vantel
