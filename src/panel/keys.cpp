// SPDX-License-Identifier: MIT
// Wiring of the picture keys, the legends, the knob and their keyboard shortcuts. A key shows its
// pressed picture while held (mouse or keyboard) and acts only when released inside. Tooltips
// stay exactly the panel's own texts; the shortcuts are listed in the README and the man page.
#include <QKeyEvent>

#include <array>

#include "panel/form1.h"
#include "panel/panel_label.h"
#include "panel/picture_box.h"
#include "status/functions.h"

namespace vantel {

namespace {

struct KeySpec {
    const char* control;
    void (Form1::*action)();
    Qt::Key shortcut;
};

constexpr std::array kKeys = {
    KeySpec{"Hold_button", &Form1::Hold_button_Action, Qt::Key_H},
    KeySpec{"Reset_button", &Form1::Reset_button_Action, Qt::Key_R},
    KeySpec{"Units2_Button", &Form1::Units2_Button_Action, Qt::Key_U},
    KeySpec{"Weight_button", &Form1::Weight_button_Action, Qt::Key_W},
    KeySpec{"Resp_button", &Form1::Resp_button_Action, Qt::Key_P},
    KeySpec{"Relativity_button", &Form1::Relativity_button_Action, Qt::Key_L},
    KeySpec{"Channel_button", &Form1::Channel_button_Action, Qt::Key_C},
    KeySpec{"AnaDig_button", &Form1::AnaDig_button_Action, Qt::Key_D},
    KeySpec{"InputSel_button", &Form1::InputSel_button_Action, Qt::Key_I},
};

struct LegendSpec {
    const char* control;
    std::string_view function;
    Qt::Key shortcut;
};

// The function legends around the knob, left to right.
constexpr std::array kLegends = {
    LegendSpec{"Level_Function_button", function_key_names[0], Qt::Key_1},
    LegendSpec{"Balance_Function_button", function_key_names[1], Qt::Key_2},
    LegendSpec{"Crosstalk_Function_Button", function_key_names[2], Qt::Key_3},
    LegendSpec{"Noise_Function_button", function_key_names[3], Qt::Key_4},
    LegendSpec{"THDN_function_button", function_key_names[4], Qt::Key_5},
};

}  // namespace

void Form1::wire_controls() {
    for (const KeySpec& spec : kKeys) {
        auto* key = findChild<PictureBox*>(QLatin1String(spec.control));
        connect(key, &PictureBox::pressed, this, [key] { key->setPictureVisible(false); });
        connect(
            key, &PictureBox::released, this,
            [this, key, action = spec.action](Qt::MouseButton, Qt::KeyboardModifiers, QPointF at) {
                key->setPictureVisible(true);
                if (inside(*key, at))
                    (this->*action)();
            });
    }
    for (const LegendSpec& spec : kLegends) {
        auto* legend = findChild<PanelLabel*>(QLatin1String(spec.control));
        legend->setInteractive(true);
        connect(legend, &PanelLabel::clicked, this,
                [this, function = spec.function] { select_function(function); });
    }
    auto* off = findChild<PanelLabel*>(QStringLiteral("OFF_button"));
    off->setInteractive(true);
    connect(off, &PanelLabel::clicked, this, &Form1::OFF_button_Click);

    auto* knob = findChild<PanelLabel*>(QStringLiteral("Function_Knob"));
    knob->setInteractive(true);
    connect(knob, &PanelLabel::released, this, &Form1::Function_Knob_MouseUp);
    Function_Knob = knob;
    setFocusPolicy(Qt::StrongFocus);
}

void Form1::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Quit))
        return OFF_button_Click();
    if (event->isAutoRepeat())
        return event->accept();
    for (const KeySpec& spec : kKeys) {
        if (event->key() != spec.shortcut || event->modifiers() != Qt::NoModifier)
            continue;
        findChild<PictureBox*>(QLatin1String(spec.control))->setPictureVisible(false);
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

void Form1::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat())
        return event->accept();
    for (const KeySpec& spec : kKeys) {
        if (event->key() != spec.shortcut)
            continue;
        auto* key = findChild<PictureBox*>(QLatin1String(spec.control));
        if (key->isPictureVisible())
            break;  // not pressed from the keyboard (or already up)
        key->setPictureVisible(true);
        (this->*spec.action)();
        return event->accept();
    }
    for (const LegendSpec& spec : kLegends) {
        if (event->key() != spec.shortcut)
            continue;
        select_function(spec.function);
        return event->accept();
    }
    const std::string current = Selection_Info1->text().toStdString();
    if (event->key() == Qt::Key_Left)
        return select_function(knob_step_left(current));
    if (event->key() == Qt::Key_Right)
        return select_function(knob_step_right(current));
    QWidget::keyReleaseEvent(event);
}

}  // namespace vantel
