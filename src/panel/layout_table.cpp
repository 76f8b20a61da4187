// SPDX-License-Identifier: MIT
#include "panel/layout_table.h"

#include <algorithm>
#include <array>

namespace vantel {

namespace {

using K = ControlKind;
using P = Picture;
using A = TextAlign;

constexpr QColor kCyan(0, 192, 192);
constexpr QColor kGrey(128, 128, 128);
constexpr QColor kOrange(255, 128, 0);
constexpr QColor kLineGrey(64, 64, 64);
constexpr QColor kWindowText(0, 0, 0);  // never shows: those labels have no caption

constexpr ControlSpec picture(std::string_view name, int x, int y, int w, int h, P pic,
                              std::string_view tooltip = {}, std::string_view parent = {},
                              int index = -1) {
    return {name, index, K::PictureBox, parent, QRect(x, y, w, h), {},  {},
            0,    false, kGrey,         false,  A::Left,           pic, tooltip};
}

constexpr ControlSpec label(std::string_view name, int x, int y, int w, int h,
                            std::string_view caption, double size, bool bold, QColor colour,
                            bool opaque, A align, std::string_view tooltip = {}) {
    return {name, -1,     K::Label, {},    QRect(x, y, w, h), caption, "Arial", size,
            bold, colour, opaque,   align, P::None,           tooltip};
}

// A printed grey legend on the panel picture.
constexpr ControlSpec legend(std::string_view name, int x, int y, int w, int h,
                             std::string_view caption, double size, A align = A::Left,
                             std::string_view tooltip = {}) {
    return label(name, x, y, w, h, caption, size, true, kGrey, false, align, tooltip);
}

// Cyan text in the display window.
constexpr ControlSpec display(std::string_view name, int x, int y, int w, int h,
                              std::string_view caption, double size, bool opaque, A align,
                              std::string_view tooltip, bool bold = false) {
    return label(name, x, y, w, h, caption, size, bold, kCyan, opaque, align, tooltip);
}

// A label without caption or background: an invisible click area.
constexpr ControlSpec area(std::string_view name, int x, int y, int w, int h,
                           std::string_view tooltip = {}) {
    return label(name, x, y, w, h, {}, 8.25, false, kWindowText, false, A::Left, tooltip);
}

constexpr ControlSpec line(std::string_view name, int x1, int y1, int x2, int y2) {
    return {name,  -1,      K::Line, {},    QRect(QPoint(x1, y1), QPoint(x2, y2)),
            {},    {},      2,       false, kLineGrey,
            false, A::Left, P::None, {}};
}

constexpr ControlSpec as(Role role, ControlSpec spec) {
    spec.role = role;
    return spec;
}

constexpr std::string_view kNotSelectable = "Not Selectable:  Indicates externally selected mode";

constexpr std::array kControls = {
    as(Role::HoldKey, picture("Hold_button", 184, 240, 41, 25, P::KeyOrange,
                              "Holds the current readings by stopping the display updating")),
    picture("Picture3", 184, 240, 41, 25, P::KeyOrangePressed),
    as(Role::RelativityKey, picture("Relativity_button", 136, 200, 41, 25, P::KeyGrey,
                                    "Cycles through measurement relativity settings")),
    picture("Picture1", 136, 200, 41, 25, P::KeyGreyPressed),
    as(Role::Lamp, picture("Blip", 158, 312, 17, 17, P::Lamp, {}, {}, 5)),
    as(Role::Lamp, picture("Blip", 149, 294, 17, 17, P::Lamp, {}, {}, 4)),
    as(Role::Lamp, picture("Blip", 130, 282, 17, 17, P::Lamp, {}, {}, 3)),
    as(Role::Lamp, picture("Blip", 112, 282, 17, 17, P::Lamp, {}, {}, 2)),
    as(Role::Lamp, picture("Blip", 94, 294, 17, 17, P::Lamp, {}, {}, 1)),
    as(Role::Lamp, picture("Blip", 84, 313, 17, 17, P::Lamp, {}, {}, 0)),
    as(Role::InputKey,
       picture("InputSel_button", 80, 424, 41, 25, P::KeyGrey, "Cycles through available Inputs")),
    as(Role::DomainKey, picture("AnaDig_button", 40, 424, 41, 25, P::KeyGrey,
                                "Toggles between Analogue and Digital inputs")),
    as(Role::ChannelKey, picture("Channel_button", 40, 384, 41, 25, P::KeyGrey,
                                 "Toggles between reading Channel A and Channel B")),
    as(Role::UnitsKey, picture("Units2_Button", 184, 200, 41, 25, P::KeyGrey,
                               "Cycles through available measurement units")),
    as(Role::ResponseKey,
       picture("Resp_button", 32, 200, 41, 25, P::KeyGrey, "Cycles through response types")),
    as(Role::ResetKey, picture("Reset_button", 32, 240, 41, 25, P::KeyBlue,
                               "Resets the Minimum and Maximum readings")),
    picture("Picture11", 80, 424, 41, 25, P::KeyGreyPressed),
    picture("Picture10", 40, 424, 41, 25, P::KeyGreyPressed),
    picture("Picture8", 40, 384, 41, 25, P::KeyGreyPressed),
    picture("Picture7", 184, 200, 41, 25, P::KeyGreyPressed),
    picture("Picture6", 80, 200, 41, 25, P::KeyGreyPressed),
    as(Role::WeightingKey, picture("Weight_button", 0, 0, 41, 25, P::KeyGrey,
                                   "Cycles through weighting curves", "Picture6")),
    picture("Picture5", 32, 200, 41, 25, P::KeyGreyPressed),
    picture("Picture4", 32, 240, 41, 25, P::KeyBluePressed),
    ControlSpec{
        "Timer1", -1, K::Timer, {}, {}, {}, {}, 0, false, kGrey, false, A::Left, P::None, {}},
    legend("Label8", 40, 408, 41, 17, "Ch. A/B", 6.75),
    line("Line2", 32, 64, 224, 64),
    as(Role::HoldMark, label("Hold_icon", 184, 102, 41, 17, "II", 9.75, true, kOrange, true,
                             A::Centre, "Hold indicator")),
    legend("Label12", 152, 248, 33, 17, " Hold", 6.75, A::Centre),
    as(Role::Relativity, display("Rel_Label", 168, 64, 57, 17, "relativity", 8.25, true, A::Centre,
                                 "Relativity of current reading")),
    legend("Label11", 129, 224, 57, 17, "  Relativity", 6.75),
    line("Line1", 32, 152, 224, 152),
    as(Role::Minimum, display("Label4", 80, 136, 41, 17, "0.000", 8.25, true, A::Right,
                              "Minimum reading since last reset")),
    as(Role::Maximum, display("Label6", 152, 136, 41, 17, "0.000", 8.25, true, A::Right,
                              "Maximum reading since last reset")),
    display("Label2", 40, 136, 41, 17, "Min/Max", 8.25, true, A::Centre, {}),
    as(Role::MinimumUnit, display("Label3", 120, 136, 33, 17, "units", 8.25, true, A::Centre,
                                  "Minimum reading units")),
    as(Role::MaximumUnit, display("Label7", 192, 136, 33, 17, "units", 8.25, true, A::Centre,
                                  "Maximum reading units")),
    legend("Label17", 88, 392, 33, 17, "Input", 9, A::Left, kNotSelectable),
    as(Role::Domain, display("Selection_Info5", 48, 176, 65, 17, "Domain", 8.25, false, A::Left,
                             "Selected Input Domain")),
    as(Role::Knob,
       area("Function_Knob", 88, 296, 81, 65, "Left click to go left, right click to go right")),
    legend("Label15", 88, 448, 41, 17, "Input", 6.75),
    legend("Label14", 40, 448, 41, 17, " Domain", 6.75),
    as(Role::Channel, display("Channel_Indicator", 88, 160, 17, 17, "A", 8.25, true, A::Centre,
                              "Selected  Input Channel")),
    display("Channel_Label", 48, 160, 57, 17, "Channel", 8.25, true, A::Left,
            "Selected Input Channel"),
    legend("Other_Label", 192, 312, 41, 17, "Other", 9, A::Left, kNotSelectable),
    as(Role::ThdnLegend, legend("THDN_function_button", 176, 288, 49, 17, "THD+N", 9, A::Left,
                                "Selects \"THD + N\" measurement Function")),
    as(Role::NoiseLegend, legend("Noise_Function_button", 144, 264, 49, 17, "Noise", 9, A::Left,
                                 "Selects \"Noise\" measurement Function")),
    as(Role::CrosstalkLegend, legend("Crosstalk_Function_Button", 56, 264, 65, 17, "Cross-talk", 9,
                                     A::Left, "Selects \"Cross-talk\" measurement Function")),
    as(Role::BalanceLegend, legend("Balance_Function_button", 40, 288, 49, 17, "Balance", 9,
                                   A::Left, "Selects \"Balance\" measurement Function")),
    as(Role::OffLegend,
       legend("OFF_button", 48, 344, 25, 17, "Off", 9, A::Left, "Exits the program")),
    as(Role::Lock, display("Selection_Info4", 120, 176, 105, 17, "Digital Input Status", 8.25,
                           false, A::Left, "Digital Input Status")),
    as(Role::Input, display("Selection_Info2", 120, 160, 97, 17, "Selected Input", 8.25, false,
                            A::Left, "Selected Input")),
    as(Role::Function, display("Selection_Info1", 48, 40, 169, 25, "Selected Function", 9.75, true,
                               A::Centre, "Selected measurement function")),
    as(Role::AmplitudeLegend, legend("Level_Function_button", 40, 312, 41, 17, "Ampl", 9, A::Left,
                                     "Selects \"Amplitude\" measurement function")),
    legend("Units_Label", 192, 224, 33, 17, " Units", 6.75),
    legend("Weighting_Label", 72, 224, 57, 17, "  Weighting", 6.75),
    legend("Response_Label", 24, 224, 57, 17, "  Response", 6.75),
    legend("Reset_Label", 72, 248, 73, 17, " Reset Min/Max", 6.75),
    area("Units_button", 176, 200, 49, 25),
    area("Weighting_button", 128, 200, 49, 25),
    area("Response_button", 80, 200, 49, 25),
    area("Reset", 32, 200, 49, 25, "Resets the Maximum and Minimum readings"),
    as(Role::Weighting, display("Label5", 104, 64, 57, 17, "weighting", 8.25, true, A::Centre,
                                "Weighting filter of current reading")),
    as(Role::Response, display("Label10", 40, 64, 57, 17, "resp.", 8.25, true, A::Centre,
                               "Response of current reading")),
    // Not one of the original panel's controls: the display's annunciator, in the free corner
    // under the unit and the hold mark, in the display's own face and colour.
    as(Role::Annunciator, display("Status_Annunciator", 185, 119, 39, 15, "", 6, true, A::Centre,
                                  "What makes the reading untrustworthy", true)),
    as(Role::Unit, display("Label9", 183, 85, 41, 17, "units", 9.75, true, A::Centre,
                           "Units of current reading", true)),
    ControlSpec{"Label1",
                -1,
                K::Label,
                {},
                QRect(40, 88, 145, 41),
                "-0.123",
                "LCD Display Grid",
                24,
                false,
                kCyan,
                true,
                A::Right,
                P::None,
                "Main reading",
                Role::MainReading},
};

static_assert(kControls.size() == 67);

}  // namespace

std::span<const ControlSpec> panel_controls() {
    return kControls;
}

QString control_name(const ControlSpec& spec) {
    QString name = QString::fromUtf8(spec.name.data(), static_cast<qsizetype>(spec.name.size()));
    if (spec.index >= 0)
        name += QLatin1Char('_') + QString::number(spec.index);
    return name;
}

std::pair<int, int> visible_columns(const ControlSpec& label) {
    int first = label.rect.left(), last = label.rect.right();
    for (const ControlSpec& front : kControls) {
        if (&front == &label)
            break;  // the rest lie behind it
        const QRect& r = front.rect;
        if (front.kind != ControlKind::Label || !front.opaque || r.top() > label.rect.top() ||
            r.bottom() < label.rect.bottom() || r.right() < first || r.left() > last)
            continue;
        if (r.left() > label.rect.left())
            last = std::min(last, r.left() - 1);
        else
            first = std::max(first, r.right() + 1);
    }
    return {first - label.rect.left(), last - label.rect.left()};
}

QString control_name(Role role, int index) {
    for (const ControlSpec& spec : kControls)
        if (spec.role == role && spec.index == index)
            return control_name(spec);
    return {};
}

}  // namespace vantel
