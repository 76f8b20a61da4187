#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Redraws the artwork, checks it and composes the panel preview:
#   - resources/*.svg from tools/art/draw_art.py,
#   - a check of the pixels the pictures must share (key and lamp backgrounds, the black
#     display window, legends on plain panel) and of the display font's coverage,
#   - every picture at 1x and 2x in build/art/ for a close look,
#   - docs/panel-preview.png and docs/panel-preview@2x.png: the whole window as the program
#     lays it out, with sample readings in the display and lamp 0 lit.
# The display font itself is derived once by tools/font/derive_display_font.py.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/art
tool=build/art-preview/art-preview
mkdir -p "$out" docs

cmake -S tools/preview -B build/art-preview -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/art-preview -j2 >/dev/null

# The scripts need Debian's fontTools, which the pyenv interpreter may not see.
/usr/bin/python3 tools/art/draw_art.py resources >/dev/null

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
"$tool" verify resources
"$tool" fontcheck resources/fonts/VantelSegment-Regular.ttf "$out/readings.png"

for svg in resources/*.svg; do
  name=$(basename "$svg" .svg)
  "$tool" render "$svg" "$out/$name.png" 1 >/dev/null
  "$tool" render "$svg" "$out/$name@2x.png" 2 >/dev/null
done
"$tool" render resources/icon.svg "$out/icon-16.png" 0.5 >/dev/null

"$tool" panel resources docs/panel-preview.png 1 0
"$tool" panel resources docs/panel-preview@2x.png 2 0
# Every lamp lit and two keys held down, to see lamp and pressed-key pictures in place.
"$tool" panel resources "$out/panel-pressed@2x.png" 2 -1 Hold_button Weight_button
