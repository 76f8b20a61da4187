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
    // A text wider than the label is drawn in a smaller size of the same face rather than cut:
    // the main reading stays whole even for eight hexadecimal digits.
    void setShrinkToFit(bool shrink) { shrink_to_fit_ = shrink; }

Q_SIGNALS:
    void released(Qt::MouseButton button, QPointF position);
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool interactive_ = false;
    bool shrink_to_fit_ = false;
};

}  // namespace vantel
