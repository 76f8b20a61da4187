// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QTest>

#include "form_fixture.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::Shown;
using Strings = std::vector<std::string>;

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
    auto* key = p.child<PictureBox>("Channel_button");
    p.press(key, {20, 12}, GetParam().button);
    p.release(key, GetParam().release, GetParam().button);
    EXPECT_TRUE(key->isPictureVisible());
    EXPECT_EQ(p.form->Selected_Channel, GetParam().acts ? "B" : "A");
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyRelease,
                         testing::ValuesIn(std::vector<ReleaseCase>{
                             {"Inside", Qt::LeftButton, {1, 1}, true},
                             {"RightButtonActsToo", Qt::RightButton, {20, 12}, true},
                             {"MiddleButtonActsToo", Qt::MiddleButton, {39, 23}, true},
                             {"LeftEdge", Qt::LeftButton, {0, 12}, false},
                             {"TopEdge", Qt::LeftButton, {20, 0}, false},
                             {"RightEdge", Qt::LeftButton, {41, 12}, false},
                             {"DraggedOff", Qt::LeftButton, {120, -60}, false},
                         }),
                         testing_support::RowName());

TEST(PictureKey, KeyboardShortcutPressesAndActsOnRelease) {
    Shown p;
    auto* hold = p.child<PictureBox>("Hold_button");
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
    const KnobCase& c = GetParam();
    Shown p;
    p.form->Selection_Info1->setText(QString::fromUtf8(c.current));
    p.press(p.form->Function_Knob, {40, 50}, c.button);
    p.release(p.form->Function_Knob, c.release, c.button);
    Strings expected;
    if (c.written)
        expected.push_back(std::string("set CTDetector.CTD_Function = \"") + c.written + "\"");
    EXPECT_EQ(p.world.writes(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Knob,
    testing::ValuesIn(std::vector<KnobCase>{
        {"LeftFromNoise", Qt::LeftButton, {40, 50}, "Noise (RMS)", "Cross-talk"},
        {"RightFromNoise", Qt::RightButton, {40, 50}, "Noise (RMS)", "THD+N - relative"},
        {"LeftBeforeFirstPoll", Qt::LeftButton, {40, 50}, "Selected Function", "THD+N - relative"},
        {"RightBeforeFirstPoll", Qt::RightButton, {40, 50}, "Selected Function", "Amplitude"},
        {"Middle", Qt::MiddleButton, {40, 50}, "Amplitude", nullptr},
        {"TopEdge", Qt::LeftButton, {40, 0}, "Amplitude", nullptr},
        {"Outside", Qt::RightButton, {100, 50}, "Amplitude", nullptr},
    }),
    testing_support::RowName());

TEST(Legends, FunctionLegendsWriteTheirFunctionTheLampCoversTheKnobAndOffCloses) {
    Shown p;
    p.world.set("CTDetector", "CTD_Function", Value("Noise (RMS)"));
    p.click(p.child("Noise_Function_button"), {10, 8});
    EXPECT_EQ(p.world.get("CTDetector", "CTD_Function"), Value("Noise (A-weighted)"));

    p.world.sim.fail_member("CTDetector.CTD_Function");
    p.click(p.child("Balance_Function_button"), {10, 8});
    EXPECT_TRUE(p.world.messages.empty()) << "a refused function is ignored";
    EXPECT_FALSE(p.form->ended());

    p.world.log->clear();
    p.form->Blip[0]->show();
    p.click(p.form->Blip[0], {8, 8});
    EXPECT_TRUE(p.world.writes().empty()) << "the lamp in front of the knob takes the press";

    p.click(p.child("OFF_button"), {10, 8});
    EXPECT_TRUE(p.form->ended());
}

}  // namespace
}  // namespace vantel
