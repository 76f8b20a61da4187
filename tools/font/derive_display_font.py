#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Derives the main reading's display face, "Vantel Segment", from DSEG14 Classic Regular.

Why a derivative and not the face itself:
- DSEG uses "!" as a blank of digit width, but the reading formatter appends "!" as its
  over-range mark, so the mark would silently vanish. We draw "!" as the upper centre
  segment over a point.
- At 24 pt (32 px) a DSEG cell is 26.1 px, so a six-cell reading ("-12340", "123500") is
  156.7 px and does not fit the 145 px reading label. Cells are condensed to 90 % width,
  which makes six cells 141 px.
- DSEG's decimal point has no advance and is centred on the cell boundary, so a reading
  ending in "." ("1000.") put half its point outside a right-aligned label, where the label
  clips it. Every cell is moved left by 62 units (the point's half width), so the point of
  the last cell ends exactly at the text's right edge; spacing between cells is unchanged.
- The OFL reserves the name "DSEG" for the original, so the derivative carries its own name.

Usage: derive_display_font.py SOURCE.ttf OUT.ttf
(SOURCE is /usr/share/fonts/truetype/dseg/DSEG14Classic-Regular.ttf from fonts-dseg.)
"""
import os
import sys

from fontTools.ttLib import TTFont
from fontTools.ttLib.tables._g_l_y_f import Glyph, GlyphCoordinates
from fontTools.ttLib.tables import ttProgram

FAMILY = "Vantel Segment"
POSTSCRIPT = "VantelSegment-Regular"
CELL = 816            # DSEG14's advance for every digit and letter
SHIFT = 62            # half the width of DSEG14's decimal point
SCALE = 0.90          # horizontal condensing of every outline and advance


def main(src, dst):
    font = TTFont(src)
    glyf, hmtx = font["glyf"], font["hmtx"]
    order = font.getGlyphOrder()

    # Outlines are moved, so DSEG's hinting programs would snap them to the old grid; the
    # face is used large and antialiased, where unhinted outlines render best anyway.
    for name in order:
        g = glyf[name]
        if g.numberOfContours > 0:
            g.program = ttProgram.Program()
            g.program.fromBytecode(b"")
    for table in ("fpgm", "prep", "cvt "):
        if table in font:
            del font[table]
    font["maxp"].maxSizeOfInstructions = 0

    def moved(name):
        # Cells and the zero-width point shift together, so they keep their spacing.
        return hmtx[name][0] in (CELL, 0)

    for name in order:
        g = glyf[name]
        adv, _ = hmtx[name]
        shift = SHIFT if moved(name) else 0
        if g.numberOfContours > 0:
            coords = g.getCoordinates(glyf)[0]
            g.coordinates = GlyphCoordinates(
                [(round((x - shift) * SCALE), y) for x, y in coords])
            g.recalcBounds(glyf)
            lsb = g.xMin
        else:
            lsb = 0
        hmtx[name] = (round(adv * SCALE), lsb)

    # "!": the upper half of the centre bar over a point at the foot of the cell.
    bar, point = glyf["bar"], glyf["period"]
    bar_coords, bar_ends, bar_flags = bar.getCoordinates(glyf)
    upper = []
    start = 0
    for end in bar_ends:
        pts = list(bar_coords[start:end + 1])
        flags = list(bar_flags[start:end + 1])
        if min(y for _, y in pts) > 500:
            upper.append((pts, flags))
        start = end + 1
    assert len(upper) == 1, "DSEG14's bar should have one upper segment"
    bar_centre = (bar.xMin + bar.xMax) / 2
    p_coords, _, p_flags = point.getCoordinates(glyf)
    p_centre = (point.xMin + point.xMax) / 2
    dx = round(bar_centre - p_centre)
    contours = [upper[0], ([(x + dx, y) for x, y in p_coords], list(p_flags))]

    exclam = Glyph()
    exclam.numberOfContours = len(contours)
    coords, flags, ends = [], [], []
    for pts, fl in contours:
        coords.extend(pts)
        flags.extend(fl)
        ends.append(len(coords) - 1)
    exclam.coordinates = GlyphCoordinates(coords)
    exclam.flags = bytearray(f & 1 for f in flags)
    exclam.endPtsOfContours = ends
    exclam.program = ttProgram.Program()
    exclam.program.fromBytecode(b"")
    exclam.recalcBounds(glyf)
    glyf["exclam"] = exclam
    hmtx["exclam"] = (round(CELL * SCALE), exclam.xMin)

    names = font["name"]
    copyright_text = (
        "Copyright (c) 2018, keshikan (http://www.keshikan.net), with Reserved Font Name "
        "\"DSEG\". Modified by the Vantel DMM developers: condensed cells, shifted "
        "decimal point, visible exclamation mark.")
    for rec in list(names.names):
        if rec.nameID in (0, 1, 3, 4, 5, 6, 19):
            names.removeNames(nameID=rec.nameID)
    for nid, text in ((0, copyright_text), (1, FAMILY), (2, "Regular"),
                      (3, "Vantel Segment Regular; derived from DSEG14 Classic 0.46"),
                      (4, FAMILY + " Regular"), (5, "Version 0.46-vantel1"),
                      (6, POSTSCRIPT), (19, "-12.30 1.235! 1E+15 OVER")):
        names.setName(text, nid, 3, 1, 0x409)
        names.setName(text, nid, 1, 0, 0)
    font["OS/2"].xAvgCharWidth = round(font["OS/2"].xAvgCharWidth * SCALE)
    font.save(dst)

    # The OFL travels with every copy: the original's notice and licence text, as the
    # source face carries them, with our modification noted.
    licence = names.getDebugName(13)
    with open(os.path.join(os.path.dirname(dst), "OFL.txt"), "w", encoding="utf-8") as f:
        f.write(copyright_text + "\n\n" + licence.split("\n", 2)[2].lstrip("\n")
                + ("" if licence.endswith("\n") else "\n"))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
