// SPDX-License-Identifier: MIT
#pragma once

// A text control of the panel. Most only show text; a few legends and the knob area take the
// mouse: they then keep it from press to release, and a click is a press and a release inside.

#include <QLabel>

#include <optional>
#include <utility>

namespace vantel {

class PanelLabel final : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;
    void setInteractive(bool interactive) { interactive_ = interactive; }
    // A text wider than the label is drawn in a smaller size of the same face rather than cut:
    // the main reading stays whole even for eight hexadecimal digits.
    void setShrinkToFit(bool shrink) { shrink_to_fit_ = shrink; }
    // Draws the label at `zoom` times its size at 100 %, where its font is `font_at_100` and the
    // columns no control in front of it covers are `visible_at_100` ([first, last]). A text
    // keeps a pixel clear of their edges: a font's hinting at another size (or on a screen of
    // another pixel ratio) widens some words by a pixel or two, and a word that fits its place
    // at 100 % down to its last column would lose that column drawn finer. Such a word is drawn
    // a little smaller.
    void setZoom(const QFont& font_at_100, std::pair<int, int> visible_at_100, qreal zoom);

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
    std::pair<int, int> visible_at_100_{0, 0};
    qreal zoom_ = 1.0;
    // How the last text was fitted at this zoom: nothing when the label draws it as it is.
    struct Fitted {
        QString text;
        qreal zoom, device_pixel_ratio;
        std::optional<std::pair<QFont, QPointF>> smaller;  // the font and the baseline's origin
    };
    std::optional<Fitted> fitted_;
    const Fitted& fit(const QString& text);
};

}  // namespace vantel
