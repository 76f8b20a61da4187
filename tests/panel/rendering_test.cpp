// SPDX-License-Identifier: MIT
// The window as a picture: grabbed offscreen and compared with the artwork and the layout table.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPainter>
#include <QTest>

#include "form_fixture.h"
#include "panel/layout_table.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::Panel;

QImage crop(const QImage& image, QRect r) {
    return image.copy(r).convertToFormat(QImage::Format_RGB32);
}

// The part of a picture that a 41 x 25 key box shows, as the window draws it over the panel.
QImage key_picture(Picture picture) {
    QImage canvas(41, 25, QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, panel_pixmap(picture, 1.0));
    return canvas;
}

struct Grabbed : Panel {
    Grabbed() {
        start();
        work_tick();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    QImage shot() const { return form->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST(Rendering, EveryControlStandsWhereTheTableSays) {
    Grabbed p;
    for (const ControlSpec& spec : panel_controls()) {
        if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
            continue;
        QString name = QString::fromUtf8(spec.name);
        if (spec.index >= 0)
            name += QStringLiteral("_%1").arg(spec.index);
        const QWidget* control = p.form->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        EXPECT_EQ(control->geometry(), spec.rect) << name.toStdString();
    }
    EXPECT_EQ(p.form->size(), QSize(271, 538));
}

TEST(Rendering, KeysShowTheirPicturesAndAPressedKeyShowsThePressedPictureInPlace) {
    Grabbed p;
    PictureBox* units = p.form->findChild<PictureBox*>(QStringLiteral("Units2_Button"));
    const QRect box(184, 200, 41, 25);
    EXPECT_EQ(crop(p.shot(), box), key_picture(Picture::KeyGrey));
    QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(crop(p.shot(), box), key_picture(Picture::KeyGreyPressed));
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(crop(p.shot(), box), key_picture(Picture::KeyGrey));
    EXPECT_TRUE(units->isPictureVisible());

    // The weight key lies inside its pressed picture, at its top-left corner.
    const QRect weight(80, 200, 41, 25);
    QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, weight.center());
    EXPECT_EQ(crop(p.shot(), weight), key_picture(Picture::KeyGreyPressed));
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, weight.center());
    EXPECT_EQ(crop(p.shot(), QRect(32, 240, 41, 25)), key_picture(Picture::KeyBlue));
    EXPECT_EQ(crop(p.shot(), QRect(184, 240, 41, 25)), key_picture(Picture::KeyOrange));
}

TEST(Rendering, OnlyTheLitLampShowsItsPicture) {
    Grabbed p;
    const QImage shot = p.shot();
    const QImage lit = key_picture(Picture::Lamp).copy(0, 0, 17, 17);
    for (std::size_t i = 0; i < p.form->Blip.size(); ++i) {
        const QImage lamp = crop(shot, p.form->Blip[i]->geometry());
        EXPECT_EQ(lamp == lit, i == 0) << "lamp " << i;  // the simulator starts in Amplitude
    }
}

TEST(Rendering, DisplayIsBlackWithCyanTextAndTheMainReadingUsesTheDisplayFace) {
    Grabbed p;
    const QImage shot = p.shot();
    EXPECT_EQ(shot.pixelColor(42, 200 - 10), QColor(Qt::black));  // window, under the labels
    bool cyan = false;
    for (int x = 40; x < 185 && !cyan; ++x)
        for (int y = 88; y < 129 && !cyan; ++y)
            cyan = shot.pixelColor(x, y) == QColor(0, 192, 192);
    EXPECT_TRUE(cyan) << "the main reading draws in cyan";
    EXPECT_EQ(QFontInfo(p.form->Label1->font()).family(), "Vantel Segment");
}

TEST(Rendering, LongHexReadingIsShrunkToFitRatherThanCut) {
    Grabbed p;
    p.form->Label1->setText(QStringLiteral("FFFFFFFF"));
    const QImage shot = p.shot();
    // A cut text would run into the label's left edge; a fitted one starts just inside it.
    int leftmost = 1000;
    for (int y = 88; y < 129; ++y)
        for (int x = 40; x < 185; ++x)
            if (shot.pixelColor(x, y).green() > 100)
                leftmost = std::min(leftmost, x);
    EXPECT_GT(leftmost, 40);
    EXPECT_LT(leftmost, 60);
}

}  // namespace
}  // namespace vantel
