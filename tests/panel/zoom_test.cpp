// SPDX-License-Identifier: MIT
// The panel at 150 % and 200 %: its size, its controls and keys in place, the display drawn
// afresh rather than blown up, no glyph cut by an edge; and the zoom kept between runs.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include "meter_fixture.h"
#include "panel/panel_settings.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::PrintTo;
using testing_support::Shown;

QImage shot(QWidget& w, QRect r = {}) {
    const QImage all = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return r.isNull() ? all : all.copy(r);
}

QRect times(const QRect& r, double zoom) {
    return QRect(QPoint(qRound(r.left() * zoom), qRound(r.top() * zoom)),
                 QPoint(qRound((r.left() + r.width()) * zoom) - 1,
                        qRound((r.top() + r.height()) * zoom) - 1));
}

struct ZoomCase {
    const char* name;
    int percent;
    QSize window;
};

class Zoom : public testing::TestWithParam<ZoomCase> {};

// Every control stands where the table puts it, times the zoom, to the nearest pixel; a key lies
// exactly over its pressed picture and shows it, drawn at the new size, while pressed.
TEST_P(Zoom, ScalesTheWindowAndEveryControlAndKeysShowTheirPressedPictureInPlace) {
    const ZoomCase& c = GetParam();
    Shown p;
    p.window.choose_zoom(c.percent);
    const double zoom = c.percent / 100.0;
    EXPECT_EQ(p.window.size(), c.window);
    EXPECT_EQ(p.window.zoom_percent(), c.percent);
    for (const ControlSpec& spec : panel_controls()) {
        if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
            continue;
        const QWidget* control = p.window.findChild<QWidget*>(control_name(spec));
        const QRect at = QRect(control->mapTo(&p.window, QPoint(0, 0)), control->size());
        QRect wanted = spec.rect;
        if (spec.parent == "Picture6")
            wanted.translate(80, 200);
        for (auto [got, want] : {std::pair{at.left(), wanted.left()},
                                 {at.top(), wanted.top()},
                                 {at.right() + 1, wanted.right() + 1},
                                 {at.bottom() + 1, wanted.bottom() + 1}})
            EXPECT_NEAR(got, want * zoom, 0.51) << control_name(spec).toStdString();
    }
    // Units and its pressed picture; the weighting key inside its own.
    for (auto [key, pressed] :
         {std::pair{"Units2_Button", "Picture7"}, {"Weight_button", "Picture6"}}) {
        auto* up = p.window.findChild<PictureBox*>(key);
        auto* down = p.window.findChild<QWidget*>(pressed);
        const QRect box(down->mapTo(&p.window, QPoint(0, 0)), down->size());
        EXPECT_EQ(QRect(up->mapTo(&p.window, QPoint(0, 0)), up->size()), box) << key;
        // The key over its pressed picture over the panel, as the window stacks them.
        const auto picture = [&](bool held) {
            QImage canvas(p.window.size(), QImage::Format_RGB32);
            canvas.fill(QColor(0xf0, 0xf0, 0xf0));
            QPainter painter(&canvas);
            painter.drawPixmap(0, 0, background_pixmap(1.0, zoom));
            painter.drawPixmap(box.topLeft(), panel_pixmap(Picture::KeyGreyPressed, 1.0, zoom));
            if (!held)
                painter.drawPixmap(box.topLeft(), panel_pixmap(Picture::KeyGrey, 1.0, zoom));
            return canvas.copy(box);
        };
        EXPECT_EQ(shot(p.window, box), picture(false)) << key;
        p.press(up, {20, 12});
        EXPECT_EQ(shot(p.window, box), picture(true)) << key;
        p.release(up, {20, 12});
        EXPECT_EQ(shot(p.window, box), picture(false)) << key;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sizes, Zoom, testing::ValuesIn(std::vector<ZoomCase>{
    {"At100", 100, {271, 538}}, {"At150", 150, {407, 807}}, {"At200", 200, {542, 1076}},
}), testing_support::RowName());
// clang-format on

// How strongly a pixel shows the display's cyan, 0 to 1 (the grey lines and the case: 0).
double ink(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return c.red() > 40 ? 0.0 : std::min(c.green(), c.blue()) / 192.0;
}

// The columns of `rect` in `image` where the ink is at least a quarter strong; {-1, -1} when none.
std::pair<int, int> ink_columns(const QImage& image, const QRect& rect) {
    int first = -1, last = -1;
    for (int x = rect.left(); x <= rect.right(); ++x)
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            if (ink(image, x, y) > 0.25) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

// The 200 % display against the 100 % one: each caption lies where it lay, twice as far, its ink
// a pixel clear of the edges that cut it (its own, or the next control's in front of it), and
// the glyphs are drawn afresh, as sharp as the 100 % ones rather than blurred by enlarging them.
TEST(Zoom, TheDisplayAt200IsThe100OneDrawnFinerWithNoGlyphCut) {
    Shown p;
    p.cycle_reading(Value(0.0123));
    p.cycle_reading(Value(0.0150));
    const QImage at_100 = shot(p.window);
    p.window.choose_zoom(200);
    const QImage at_200 = shot(p.window);

    int captions = 0;
    for (const ControlSpec& spec : panel_controls()) {
        auto* label = p.window.findChild<QLabel*>(control_name(spec));
        if (!label || spec.colour != QColor(0, 192, 192) || label->text().isEmpty() ||
            !label->isVisible())
            continue;
        // What of it shows: the columns no opaque label in front of it (listed before it, as
        // tall as it) covers.
        QRect shown = spec.rect;
        for (const ControlSpec& front : panel_controls()) {
            if (&front == &spec)
                break;
            const QRect& r = front.rect;
            if (front.kind != ControlKind::Label || !front.opaque || r.top() > shown.top() ||
                r.bottom() < shown.bottom() || r.right() < shown.left() || r.left() > shown.right())
                continue;
            if (r.left() > spec.rect.left())
                shown.setRight(r.left() - 1);
            else
                shown.setLeft(r.right() + 1);
        }
        const std::string name = control_name(spec).toStdString();
        const auto [first_100, last_100] = ink_columns(at_100, shown);
        const QRect shown_200 = times(shown, 2.0);
        const auto [first_200, last_200] = ink_columns(at_200, shown_200);
        ASSERT_GE(first_100, 0) << name;
        ASSERT_GE(first_200, 0) << name;
        // Where it stood, give or take what hinting at the two sizes makes of its width.
        EXPECT_NEAR(first_200, 2 * first_100, 5) << name;
        EXPECT_NEAR(last_200, 2 * last_100 + 1, 5) << name;
        EXPECT_GT(first_200, shown_200.left()) << name << ": cut at its left";
        EXPECT_LT(last_200, shown_200.right()) << name << ": cut at its right";
        ++captions;
    }
    EXPECT_GE(captions, 14);

    // Sharpness: the share of the ink's pixels that are edge (neither dark nor full), in the
    // display at 200 % and in the 100 % display enlarged twice.
    const QRect display = kDisplayArea;
    const QImage enlarged = at_100.copy(display).scaled(display.size() * 2, Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation);
    const auto edge_share = [](const QImage& image) {
        int edge = 0, inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const double v = ink(image, x, y);
                if (v < 0.1)
                    continue;  // not the display's text
                ++inked;
                edge += v < 0.9;
            }
        return static_cast<double>(edge) / inked;
    };
    const double drawn = edge_share(at_200.copy(times(display, 2.0)));
    const double blown_up = edge_share(enlarged);
    EXPECT_LT(drawn, 0.8 * blown_up) << drawn << " against " << blown_up;
}

// The menu's View sets the zoom and keeps it in panel.conf beside the analyser's settings; the
// next window opens at it. A file that holds anything else gives 100 %, and says so.
TEST(Zoom, TheChoiceIsKeptAndAFileNotOursGives100) {
    Shown p;
    QTimer::singleShot(50, &p.window, [&p] {
        for (QMenu* menu : p.window.findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                if (a->text() == QStringLiteral("150 %"))
                    a->trigger();
        for (QMenu* menu : p.window.findChildren<QMenu*>())
            menu->close();
    });
    const QPoint on_display(100, 110);
    QContextMenuEvent event(QContextMenuEvent::Mouse, on_display, p.window.mapToGlobal(on_display));
    QApplication::sendEvent(&p.window, &event);
    EXPECT_EQ(p.window.size(), QSize(407, 807));
    const QString path = QDir::homePath() + QStringLiteral("/.config/vantel-dmm/panel.conf");
    EXPECT_EQ(panel_settings_path(), path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("zoom_percent=150\n"));
    file.close();
    {
        PanelWindow again(p.meter, p.world.environment());
        EXPECT_EQ(again.zoom_percent(), 150);
        EXPECT_EQ(again.size(), QSize(407, 807));
    }
    for (const QByteArray& text : {QByteArray("zoom_percent=175\n"), QByteArray("zoom=2\n"),
                                   QByteArray("\xff\xfe garbage")}) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        p.world.reports.clear();
        PanelWindow again(p.meter, p.world.environment());
        EXPECT_EQ(again.zoom_percent(), 100) << text.toStdString();
        ASSERT_EQ(p.world.reports.size(), 1u);
        EXPECT_NE(p.world.reports[0].find("panel.conf"), std::string::npos) << p.world.reports[0];
    }
    ASSERT_TRUE(QFile::remove(path));
    p.world.reports.clear();
    PanelWindow fresh(p.meter, p.world.environment());
    EXPECT_EQ(fresh.zoom_percent(), 100);
    EXPECT_TRUE(p.world.reports.empty()) << "no file is no fault";
}

}  // namespace
}  // namespace vantel
