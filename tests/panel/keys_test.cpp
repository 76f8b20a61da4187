// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QTest>

#include "form_fixture.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::Panel;

// A shown, started panel whose first polling cycle has run.
struct Shown : Panel {
    Shown() {
        start();
        work_tick();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        world.log->clear();
    }
    PictureBox* key(const char* name) const {
        return form->findChild<PictureBox*>(QLatin1String(name));
    }
    // The point of the window at `offset` from a control's top-left corner.
    QPoint at(const QWidget* control, QPoint offset) const {
        return control->mapTo(form.get(), offset);
    }
    std::vector<std::string> writes() const {
        std::vector<std::string> w;
        for (const std::string& line : *world.log)
            if (line.starts_with("set "))
                w.push_back(line);
        return w;
    }
};

TEST(PictureKey, PressShowsThePressedPictureInPlaceAndReleaseInsideActs) {
    Shown p;
    PictureBox* key = p.key("Resp_button");
    PictureBox* pressed = p.key("Picture5");
    ASSERT_EQ(key->geometry(), pressed->geometry());
    QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, p.at(key, {20, 12}));
    EXPECT_FALSE(key->isPictureVisible());
    EXPECT_TRUE(p.writes().empty()) << "a press alone changes nothing";
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, p.at(key, {20, 12}));
    EXPECT_TRUE(key->isPictureVisible());
    EXPECT_EQ(p.writes(), std::vector<std::string>{"set CTDetector.CTD_Response = 1"});
}

struct ReleaseCase {
    const char* name;
    Qt::MouseButton button;
    QPoint release;  // relative to the key's top-left corner
    bool acts;
};

class KeyRelease : public testing::TestWithParam<ReleaseCase> {};

// The mouse stays with the key from press to release; only a release strictly inside acts.
TEST_P(KeyRelease, ActsOnlyStrictlyInside) {
    Shown p;
    PictureBox* key = p.key("Channel_button");
    QTest::mousePress(p.form->windowHandle(), GetParam().button, {}, p.at(key, {20, 12}));
    QTest::mouseRelease(p.form->windowHandle(), GetParam().button, {},
                        p.at(key, GetParam().release));
    EXPECT_TRUE(key->isPictureVisible());
    EXPECT_EQ(p.form->Selected_Channel, GetParam().acts ? "B" : "A");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyRelease,
    testing::Values(ReleaseCase{"Inside", Qt::LeftButton, {1, 1}, true},
                    ReleaseCase{"RightButtonActsToo", Qt::RightButton, {20, 12}, true},
                    ReleaseCase{"MiddleButtonActsToo", Qt::MiddleButton, {39, 23}, true},
                    ReleaseCase{"LeftEdge", Qt::LeftButton, {0, 12}, false},
                    ReleaseCase{"TopEdge", Qt::LeftButton, {20, 0}, false},
                    ReleaseCase{"RightEdge", Qt::LeftButton, {41, 12}, false},
                    ReleaseCase{"DraggedOff", Qt::LeftButton, {120, -60}, false}),
    testing_support::RowName());

TEST(PictureKey, WeightKeyInsideItsPressedPictureWorks) {
    Shown p;
    p.world.set("CTDetector", "CTD_WeightingFilter", Value(1));
    p.work_tick();
    p.world.log->clear();
    PictureBox* key = p.key("Weight_button");
    EXPECT_EQ(key->parentWidget(), p.key("Picture6"));
    QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, p.at(key, {10, 10}));
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, p.at(key, {10, 10}));
    EXPECT_EQ(p.writes(), std::vector<std::string>{"set CTDetector.CTD_WeightingFilter = 3"});
    EXPECT_EQ(p.text("Label5"), " - - ");
}

TEST(PictureKey, KeyboardShortcutPressesAndActsOnRelease) {
    Shown p;
    PictureBox* hold = p.key("Hold_button");
    QTest::keyPress(p.form.get(), Qt::Key_H);
    EXPECT_FALSE(hold->isPictureVisible());
    EXPECT_FALSE(p.form->Hold_On);
    QTest::keyRelease(p.form.get(), Qt::Key_H);
    EXPECT_TRUE(hold->isPictureVisible());
    EXPECT_TRUE(p.form->Hold_On);
}

struct KnobCase {
    const char* name;
    Qt::MouseButton button;
    QPoint release;
    const char* current;
    const char* written;  // nullptr: nothing
};

class Knob : public testing::TestWithParam<KnobCase> {};

TEST_P(Knob, StepsByButton) {
    Shown p;
    p.form->Selection_Info1->setText(QString::fromUtf8(GetParam().current));
    QWidget* knob = p.form->Function_Knob;
    QTest::mousePress(p.form->windowHandle(), GetParam().button, {}, p.at(knob, {40, 50}));
    QTest::mouseRelease(p.form->windowHandle(), GetParam().button, {},
                        p.at(knob, GetParam().release));
    std::vector<std::string> expected;
    if (GetParam().written)
        expected.push_back(std::string("set CTDetector.CTD_Function = \"") + GetParam().written +
                           "\"");
    EXPECT_EQ(p.writes(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Knob,
    testing::Values(
        KnobCase{"LeftFromNoise", Qt::LeftButton, {40, 50}, "Noise (RMS)", "Cross-talk"},
        KnobCase{"RightFromNoise", Qt::RightButton, {40, 50}, "Noise (RMS)", "THD+N - relative"},
        KnobCase{"LeftBeforeFirstPoll",
                 Qt::LeftButton,
                 {40, 50},
                 "Selected Function",
                 "THD+N - relative"},
        KnobCase{
            "RightBeforeFirstPoll", Qt::RightButton, {40, 50}, "Selected Function", "Amplitude"},
        KnobCase{"Middle", Qt::MiddleButton, {40, 50}, "Amplitude", nullptr},
        KnobCase{"TopEdge", Qt::LeftButton, {40, 0}, "Amplitude", nullptr},
        KnobCase{"Outside", Qt::RightButton, {100, 50}, "Amplitude", nullptr}),
    testing_support::RowName());

TEST(FunctionLegend, ClickWritesItsFunctionAndRefusalIsIgnored) {
    Shown p;
    auto* noise = p.form->findChild<QWidget*>(QStringLiteral("Noise_Function_button"));
    p.world.set("CTDetector", "CTD_Function", Value("Noise (RMS)"));
    QTest::mouseClick(p.form->windowHandle(), Qt::LeftButton, {}, p.at(noise, {10, 8}));
    EXPECT_EQ(p.world.get("CTDetector", "CTD_Function"), Value("Noise (A-weighted)"));

    p.world.sim.fail_member("CTDetector.CTD_Function");
    auto* balance = p.form->findChild<QWidget*>(QStringLiteral("Balance_Function_button"));
    QTest::mouseClick(p.form->windowHandle(), Qt::LeftButton, {}, p.at(balance, {10, 8}));
    EXPECT_TRUE(p.world.messages.empty());
    EXPECT_FALSE(p.form->ended());
}

TEST(Legend, LampInFrontOfTheKnobTakesThePress) {
    Shown p;
    PictureBox* lamp = p.form->Blip[0];
    lamp->show();
    QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, p.at(lamp, {8, 8}));
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, p.at(lamp, {8, 8}));
    EXPECT_TRUE(p.writes().empty());
}

TEST(OffLegend, ClosesTheProgram) {
    Shown p;
    auto* off = p.form->findChild<QWidget*>(QStringLiteral("OFF_button"));
    QTest::mouseClick(p.form->windowHandle(), Qt::LeftButton, {}, p.at(off, {10, 8}));
    EXPECT_TRUE(p.form->ended());
}

}  // namespace
}  // namespace vantel
