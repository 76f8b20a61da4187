// SPDX-License-Identifier: MIT
#pragma once

// Every control of the front panel as data: the window builds itself from this table, so a
// control's name, place and look are stated once. Coordinates are pixels of the client area
// (the panel was drawn at 96 dpi, 15 twips to the pixel).

#include <QColor>
#include <QRect>
#include <QString>

#include <span>
#include <string_view>
#include <utility>

namespace vantel {

enum class ControlKind { PictureBox, Label, Line, Timer };

// The pictures a picture box shows; each is a file in the resources.
enum class Picture {
    None,
    KeyGrey,
    KeyGreyPressed,
    KeyOrange,
    KeyOrangePressed,
    KeyBlue,
    KeyBluePressed,
    Lamp,
};

enum class TextAlign { Left, Right, Centre };

// What a control is for, so that code and tests name it by its purpose; its name in the table is
// the Qt object name that tests and accessibility tools see.
enum class Role {
    None,  // artwork: legends, lines, pressed pictures, click areas
    MainReading,
    Unit,
    Minimum,
    MinimumUnit,
    Maximum,
    MaximumUnit,
    Response,
    Weighting,
    Relativity,
    HoldMark,
    Annunciator,  // what is wrong with the reading, when anything is
    Function,
    Input,
    Lock,
    Domain,
    Channel,
    Lamp,  // indexed 0 to 5, left to right
    Knob,
    OffLegend,
    AmplitudeLegend,
    BalanceLegend,
    CrosstalkLegend,
    NoiseLegend,
    ThdnLegend,
    HoldKey,
    ResetKey,
    UnitsKey,
    WeightingKey,
    ResponseKey,
    RelativityKey,
    ChannelKey,
    DomainKey,
    InputKey,
};

struct ControlSpec {
    std::string_view name;
    int index;  // element of an indexed set (`Blip` 0 to 5); -1 for a lone control
    ControlKind kind;
    std::string_view parent;  // a picture box that contains this control, or empty for the window
    QRect rect;               // relative to the parent; for a line: from topLeft to bottomRight
    std::string_view caption;
    std::string_view font_face;
    double point_size;
    bool bold;
    QColor colour;  // text colour of a label, colour of a line
    bool opaque;    // label background: black when opaque, the panel picture shows when not
    TextAlign align;
    Picture picture;
    std::string_view tooltip;
    Role role = Role::None;
};

// Front to back: within picture boxes and within labels and lines, an earlier row lies in front
// of a later one; every picture box lies in front of every label and line.
std::span<const ControlSpec> panel_controls();

// The Qt object name of the control with `role` ("Name", or "Name_3" for an element of a set).
QString control_name(Role role, int index = -1);
QString control_name(const ControlSpec& spec);

// The columns of a label that no opaque label in front of it covers, as [first, last] relative to
// the label: neighbours in a row overlap by a column, and the one in front hides it.
std::pair<int, int> visible_columns(const ControlSpec& label);

// The window's client area and the panel picture drawn in it.
inline constexpr int kClientWidth = 271;
inline constexpr int kClientHeight = 538;
// The black display window of the panel picture; the context menu opens there.
inline constexpr QRect kDisplayArea(39, 36, 185, 158);

}  // namespace vantel
