// SPDX-License-Identifier: MIT
// The window as a picture: grabbed offscreen and compared with the artwork and the layout table.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPainter>

#include "form_fixture.h"
#include "panel/layout_table.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::Shown;

QImage shot(const Shown& p, QRect r = {}) {
    const QImage all = p.form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return r.isNull() ? all : all.copy(r);
}

// The part of a picture that a 41 x 25 key box shows, as the window draws it over the panel.
QImage key_picture(Picture picture) {
    QImage canvas(41, 25, QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    QPainter(&canvas).drawPixmap(0, 0, panel_pixmap(picture, 1.0));
    return canvas;
}

TEST(Rendering, EveryControlStandsWhereTheTableSays) {
    Shown p;
    for (const ControlSpec& spec : panel_controls()) {
        if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
            continue;
        QString name = QString::fromUtf8(spec.name);
        if (spec.index >= 0)
            name += QStringLiteral("_%1").arg(spec.index);
        const QWidget* control = p.form->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        EXPECT_EQ(control->geometry(), spec.rect) << name.toStdString();
        EXPECT_EQ(control->toolTip().toStdString(), spec.tooltip) << name.toStdString();
    }
    EXPECT_EQ(p.form->size(), QSize(271, 538));
    // The tooltips are the panel's own texts to the letter, shortcuts or not.
    for (auto [name, tooltip] : {
             std::pair{"Hold_button",
                       "Holds the current readings by stopping the display updating"},
             {"Channel_Indicator", "Selected  Input Channel"},
             {"Label17", "Not Selectable:  Indicates externally selected mode"},
             {"THDN_function_button", "Selects \"THD + N\" measurement Function"},
             {"Level_Function_button", "Selects \"Amplitude\" measurement function"},
             {"Function_Knob", "Left click to go left, right click to go right"},
             {"OFF_button", "Exits the program"},
         })
        EXPECT_EQ(p.child(name)->toolTip().toStdString(), tooltip) << name;
}

TEST(Rendering, KeysShowTheirPicturesAndAPressedKeyShowsThePressedPictureInPlace) {
    Shown p;
    auto* units = p.child("Units2_Button");
    const QRect box(184, 200, 41, 25);
    EXPECT_EQ(shot(p, box), key_picture(Picture::KeyGrey));
    p.press(units, {20, 12});
    EXPECT_EQ(shot(p, box), key_picture(Picture::KeyGreyPressed));
    p.release(units, {20, 12});
    EXPECT_EQ(shot(p, box), key_picture(Picture::KeyGrey));

    // The weight key lies inside its pressed picture, at its top-left corner; both keys act.
    auto* weight = p.child("Weight_button");
    p.press(weight, {20, 12});
    EXPECT_EQ(shot(p, QRect(80, 200, 41, 25)), key_picture(Picture::KeyGreyPressed));
    p.release(weight, {20, 12});
    EXPECT_EQ(p.world.writes(),
              (std::vector<std::string>{"set CTDetector.CTD_Unit = 21",
                                        "set CTDetector.CTD_WeightingFilter = 0"}));
    EXPECT_EQ(shot(p, QRect(32, 240, 41, 25)), key_picture(Picture::KeyBlue));
    EXPECT_EQ(shot(p, QRect(184, 240, 41, 25)), key_picture(Picture::KeyOrange));
}

TEST(Rendering, OnlyTheLitLampShowsItsPicture) {
    Shown p;
    const QImage all = shot(p);
    const QImage lit = key_picture(Picture::Lamp).copy(0, 0, 17, 17);
    for (std::size_t i = 0; i < p.form->Blip.size(); ++i)  // the simulator starts in Amplitude
        EXPECT_EQ(all.copy(p.form->Blip[i]->geometry()) == lit, i == 0) << "lamp " << i;
}

TEST(Rendering, DisplayIsBlackWithCyanTextInTheDisplayFaceShrunkToFitRatherThanCut) {
    Shown p;
    EXPECT_EQ(QFontInfo(p.form->Label1->font()).family(), "Vantel Segment");
    EXPECT_EQ(shot(p).pixelColor(42, 190), QColor(Qt::black));  // window, under the labels
    p.form->Label1->setText(QStringLiteral("FFFFFFFF"));
    const QImage all = shot(p);
    // A cut text would run into the label's left edge; a fitted one starts just inside it.
    int leftmost = 1000;
    bool cyan = false;
    for (int y = 88; y < 129; ++y)
        for (int x = 40; x < 185; ++x) {
            cyan = cyan || all.pixelColor(x, y) == QColor(0, 192, 192);
            if (all.pixelColor(x, y).green() > 100)
                leftmost = std::min(leftmost, x);
        }
    EXPECT_TRUE(cyan) << "the main reading draws in cyan";
    EXPECT_GT(leftmost, 40);
    EXPECT_LT(leftmost, 60);
}

}  // namespace
}  // namespace vantel
