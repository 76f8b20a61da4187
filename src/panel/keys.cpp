// SPDX-License-Identifier: MIT
// Wiring of the picture keys, the legends, the knob and their keyboard shortcuts. A key shows its
// pressed picture while held (mouse or keyboard) and acts only when released inside. Tooltips
// stay exactly the panel's own texts; the shortcuts are listed in the README and the man page.
#include <QAction>
#include <QKeyEvent>

#include <array>

#include "meter/functions.h"
#include "panel/panel_label.h"
#include "panel/panel_window.h"
#include "panel/picture_box.h"

namespace vantel {

namespace {

struct KeySpec {
    Role control;
    void (Meter::*action)();
    Qt::Key shortcut;
};

constexpr std::array kKeys = {
    KeySpec{Role::HoldKey, &Meter::toggle_hold, Qt::Key_H},
    KeySpec{Role::ResetKey, &Meter::reset_min_max, Qt::Key_R},
    KeySpec{Role::UnitsKey, &Meter::step_unit, Qt::Key_U},
    KeySpec{Role::WeightingKey, &Meter::step_weighting, Qt::Key_W},
    KeySpec{Role::ResponseKey, &Meter::step_response, Qt::Key_P},
    KeySpec{Role::RelativityKey, &Meter::step_relativity, Qt::Key_L},
    KeySpec{Role::ChannelKey, &Meter::toggle_channel, Qt::Key_C},
    KeySpec{Role::DomainKey, &Meter::toggle_domain, Qt::Key_D},
    KeySpec{Role::InputKey, &Meter::step_input, Qt::Key_I},
};

struct LegendSpec {
    Role control;
    std::string_view function;
    Qt::Key shortcut;
};

// The function legends around the knob, left to right.
constexpr std::array kLegends = {
    LegendSpec{Role::AmplitudeLegend, function_key_names[0], Qt::Key_1},
    LegendSpec{Role::BalanceLegend, function_key_names[1], Qt::Key_2},
    LegendSpec{Role::CrosstalkLegend, function_key_names[2], Qt::Key_3},
    LegendSpec{Role::NoiseLegend, function_key_names[3], Qt::Key_4},
    LegendSpec{Role::ThdnLegend, function_key_names[4], Qt::Key_5},
};

}  // namespace

void PanelWindow::wire_controls() {
    for (const KeySpec& spec : kKeys) {
        auto* key = findChild<PictureBox*>(control_name(spec.control));
        connect(key, &PictureBox::pressed, this, [key] { key->setPictureVisible(false); });
        connect(key, &PictureBox::released, this,
                [meter = &meter_, key, action = spec.action](Qt::MouseButton, Qt::KeyboardModifiers,
                                                             QPointF at) {
                    key->setPictureVisible(true);
                    if (inside(*key, at))
                        (meter->*action)();
                });
    }
    for (const LegendSpec& spec : kLegends) {
        auto* legend = findChild<PanelLabel*>(control_name(spec.control));
        legend->setInteractive(true);
        connect(legend, &PanelLabel::clicked, this,
                [this, function = spec.function] { meter_.select_function(function); });
    }
    auto* off = findChild<PanelLabel*>(control_name(Role::OffLegend));
    off->setInteractive(true);
    connect(off, &PanelLabel::clicked, this, &QWidget::close);

    auto* knob = static_cast<PanelLabel*>(knob_);
    knob->setInteractive(true);
    connect(knob, &PanelLabel::released, this, [this](Qt::MouseButton button, QPointF at) {
        if (!inside(*knob_, at))
            return;
        if (button == Qt::LeftButton)
            meter_.step_knob_left();
        else if (button == Qt::RightButton)
            meter_.step_knob_right();
    });

    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    connect(copy, &QAction::triggered, this, &PanelWindow::copy_reading);
    addAction(copy);
    setFocusPolicy(Qt::StrongFocus);
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Quit))
        return (void)close();
    if (event->isAutoRepeat())
        return event->accept();
    for (const KeySpec& spec : kKeys) {
        if (event->key() != spec.shortcut || event->modifiers() != Qt::NoModifier)
            continue;
        findChild<PictureBox*>(control_name(spec.control))->setPictureVisible(false);
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat())
        return event->accept();
    for (const KeySpec& spec : kKeys) {
        if (event->key() != spec.shortcut)
            continue;
        auto* key = findChild<PictureBox*>(control_name(spec.control));
        if (key->isPictureVisible())
            break;  // not pressed from the keyboard (or already up)
        key->setPictureVisible(true);
        (meter_.*spec.action)();
        return event->accept();
    }
    for (const LegendSpec& spec : kLegends) {
        if (event->key() != spec.shortcut)
            continue;
        meter_.select_function(spec.function);
        return event->accept();
    }
    if (event->key() == Qt::Key_Left)
        return meter_.step_knob_left();
    if (event->key() == Qt::Key_Right)
        return meter_.step_knob_right();
    QWidget::keyReleaseEvent(event);
}

}  // namespace vantel
