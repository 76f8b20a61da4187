// SPDX-License-Identifier: MIT
#pragma once

// The panel's own choices, kept apart from the analyser's settings in a small file beside them:
// $XDG_CONFIG_HOME/vantel-dmm/panel.conf, "zoom_percent=150". It is written whole, through a file
// renamed over the old one, so that a crash never leaves half of it; a missing file, or one that
// is not understood, gives the panel at 100 %.

#include <QString>

#include <array>

namespace vantel {

// The sizes the panel is drawn at, in per cent of the artwork's own.
inline constexpr std::array kZoomPercents{100, 150, 200};
bool is_zoom_percent(int percent);

QString panel_settings_path();

// The zoom kept in `path`: 100 when there is no file; 100 and why in `trouble` when there is one
// that holds no zoom of ours.
int read_zoom_percent(const QString& path, QString& trouble);
// Empty when written, else why not (naming the file).
QString write_zoom_percent(const QString& path, int percent);

}  // namespace vantel
