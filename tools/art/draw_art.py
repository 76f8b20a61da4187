#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Draws the panel artwork as SVG into resources/.

The pictures are pixel-exact overlays of one another: keys and lamps are drawn on the very
colour of the panel behind them, the lamp sits on the flat dial plate, and the unlit lamps of
the panel lie exactly under the lit lamp picture. Keeping every shape in one script keeps those
colours and positions in one place. Coordinates are window pixels at 1x; edges of straight
shapes lie on whole pixels so that both 1x and 2x renderings stay sharp.

Lettering is taken from Liberation Sans Bold (fonts-liberation) and written as paths, so the
pictures do not depend on the fonts of the machine that shows them.

Usage: draw_art.py [RESOURCES_DIR]
"""
import math
import os
import sys

from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont

LETTERING_FONT = "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf"

# --- Colours shared between pictures ---------------------------------------------------
SURROUND = "#f0f0f0"    # around the holster; also what the window should paint at its right
FACE = "#2a2c2f"        # front panel: keys are drawn on exactly this
BEZEL = "#404040"       # display frame; equals the display's divider lines (64, 64, 64)
WINDOW = "#000000"      # display window: opaque black labels must vanish into it
GASKET = "#0b0b0b"      # edge of the window, between it and the bezel
PLATE = "#161718"       # dial plate the lamps sit on
LEGEND = "#808080"      # legends the program prints; used for our own printed marks too

HOLSTER = "#f4a81d"
HOLSTER_LIGHT = "#ffc95a"
HOLSTER_DARK = "#c98410"
HOLSTER_EDGE = "#7a4d05"

# --- Geometry of the panel (window pixels) ---------------------------------------------
PANEL_W, PANEL_H = 267, 539
HOLSTER_BOX = (2, 2, 265, 527)          # outer edge of the rubber holster
FACE_BOX = (20, 15, 243, 500)           # opening of the holster: the meter's front
BEZEL_BOX = (30, 30, 233, 200)          # the lines at y 64 and 152 run x 32..224 on it
WINDOW_BOX = (39, 36, 224, 194)         # pixels 39..223 x 36..193
# The dial is the smallest circle that holds all six lamp boxes (their farthest corner is
# 47.2 px out), so that the legends printed round it stay on plain panel.
DIAL_CENTRE = (129.5, 324.5)
DIAL_PLATE_R = 47.5
KNOB_R = 22                              # the nearest lamp box corner is 22.9 px away
LAMP_BOXES = [(84, 313), (94, 294), (112, 282), (130, 282), (149, 294), (158, 312)]
LAMP_RING_R, LAMP_DOME_R = 5.5, 4.5      # centred in the 17 x 17 box: edges on whole pixels
SOCKETS = {"COM": (170, 452), "V": (214, 452)}


class Svg:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.defs, self.body = [], []
        self.ids = 0

    def _id(self, prefix):
        self.ids += 1
        return f"{prefix}{self.ids}"

    def linear(self, stops, x1, y1, x2, y2, user=False):
        gid = self._id("l")
        units = ' gradientUnits="userSpaceOnUse"' if user else ""
        self.defs.append(
            f'<linearGradient id="{gid}" x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}"{units}>'
            + "".join(_stop(s) for s in stops) + "</linearGradient>")
        return f"url(#{gid})"

    def radial(self, stops, cx, cy, r, fx=None, fy=None, user=False):
        gid = self._id("r")
        units = ' gradientUnits="userSpaceOnUse"' if user else ""
        focus = f' fx="{fx}" fy="{fy}"' if fx is not None else ""
        self.defs.append(
            f'<radialGradient id="{gid}" cx="{cx}" cy="{cy}" r="{r}"{focus}{units}>'
            + "".join(_stop(s) for s in stops) + "</radialGradient>")
        return f"url(#{gid})"

    def add(self, element):
        self.body.append(element)

    def comment(self, text):
        self.body.append(f"<!-- {text} -->")

    def text(self):
        return (
            '<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
            f'width="{self.w}" height="{self.h}" viewBox="0 0 {self.w} {self.h}">\n'
            "<defs>\n" + "\n".join(self.defs) + "\n</defs>\n"
            + "\n".join(self.body) + "\n</svg>\n")


def _stop(s):
    offset, colour = s[0], s[1]
    opacity = f' stop-opacity="{s[2]}"' if len(s) > 2 else ""
    return f'<stop offset="{offset}" stop-color="{colour}"{opacity}/>'


def _attrs(fill=None, stroke=None, width=None, opacity=None, extra=""):
    a = f' fill="{fill or "none"}"'
    if stroke:
        a += f' stroke="{stroke}"'
        if width is not None:
            a += f' stroke-width="{width}"'
    if opacity is not None:
        a += f' opacity="{opacity}"'
    return a + extra


def rect(x0, y0, x1, y1, r=0, **kw):
    rr = f' rx="{r}" ry="{r}"' if r else ""
    return f'<rect x="{_n(x0)}" y="{_n(y0)}" width="{_n(x1 - x0)}" height="{_n(y1 - y0)}"{rr}' \
           f'{_attrs(**kw)}/>'


def circle(cx, cy, r, **kw):
    return f'<circle cx="{_n(cx)}" cy="{_n(cy)}" r="{_n(r)}"{_attrs(**kw)}/>'


def ellipse(cx, cy, rx, ry, **kw):
    return f'<ellipse cx="{_n(cx)}" cy="{_n(cy)}" rx="{_n(rx)}" ry="{_n(ry)}"{_attrs(**kw)}/>'


def path(d, **kw):
    return f'<path d="{d}"{_attrs(**kw)}/>'


def _n(v):
    v = round(v, 3)
    return str(int(v)) if v == int(v) else str(v)


class Lettering:
    """Text as SVG path data, from the outlines of a TrueType face."""

    def __init__(self, font_file):
        self.font = TTFont(font_file)
        self.glyphs = self.font.getGlyphSet()
        self.cmap = self.font.getBestCmap()
        self.upm = self.font["head"].unitsPerEm

    def width(self, text, px, spacing=0.0):
        s = px / self.upm
        return sum(self.glyphs[self.cmap[ord(c)]].width * s for c in text) \
            + spacing * (len(text) - 1)

    def path(self, text, px, x, baseline, anchor="start", spacing=0.0):
        s = px / self.upm
        w = self.width(text, px, spacing)
        x -= {"start": 0, "middle": w / 2, "end": w}[anchor]
        pen = SVGPathPen(self.glyphs, ntos=lambda v: f"{v:.2f}".rstrip("0").rstrip("."))
        for c in text:
            g = self.glyphs[self.cmap[ord(c)]]
            g.draw(TransformPen(pen, (s, 0, 0, -s, x, baseline)))
            x += g.width * s + spacing
        return pen.getCommands()


def logotype(x, y):
    """VANTEL in straight 2-px strokes, cap height 8, set on whole pixels.

    A drawn logotype rather than set type: at 8 px a font's curves blur, while these
    strokes stay sharp at 1x. The A is an open chevron, the mark's one flourish."""
    letters = [
        # V
        "M0 0h2l2 6 2-6h2l-3 8h-2z",
        # A as an open chevron
        "M0 8l3-8h2l3 8h-2l-2-5.5-2 5.5z",
        # N
        "M0 0h2l4 4.8v-4.8h2v8h-2l-4-4.8v4.8h-2z",
        # T
        "M0 0h8v2h-3v6h-2v-6h-3z",
        # E
        "M0 0h7v2h-5v1h4v2h-4v1h5v2h-7z",
        # L
        "M0 0h2v6h5v2h-7z",
    ]
    advances = [8, 8, 8, 8, 7, 7]
    gap = 2
    d = ""
    for shape, adv in zip(letters, advances):
        start_y = y + int(shape[3])          # each shape opens with an absolute "M0 0" or "M0 8"
        d += f"M{x} {start_y}" + shape[4:]
        x += adv + gap
    return d, x - gap


# --- panel.svg ---------------------------------------------------------------------------

def draw_panel(out):
    lt = Lettering(LETTERING_FONT)
    s = Svg(PANEL_W, PANEL_H)
    hx0, hy0, hx1, hy1 = HOLSTER_BOX
    fx0, fy0, fx1, fy1 = FACE_BOX
    cx, cy = DIAL_CENTRE

    s.comment("surround: the same colour continues in the window's strip at the right")
    s.add(rect(0, 0, PANEL_W, PANEL_H, fill=SURROUND))

    s.comment("holster: rubber, rounder and darker towards its outer edge")
    s.add(rect(hx0, hy0, hx1, hy1, 22, fill=s.linear(
        [(0, "#d38a10"), (0.045, HOLSTER), (0.5, "#f6ad24"), (0.955, HOLSTER), (1, "#cc850f")],
        0, 0, 1, 0)))
    s.add(rect(hx0, hy0, hx1, hy1, 22, fill=s.linear(
        [(0, "#ffffff", 0.16), (0.08, "#ffffff", 0.0), (0.9, "#000000", 0.0),
         (1, "#000000", 0.16)], 0, 0, 0, 1)))
    # Highlight where the rounded rim turns towards the light (top left), shade bottom right.
    s.add(rect(hx0 + 2.5, hy0 + 2.5, hx1 - 2.5, hy1 - 2.5, 20, stroke=s.linear(
        [(0, "#fff1c8", 0.9), (0.45, HOLSTER_LIGHT, 0.35), (1, HOLSTER_LIGHT, 0.0)],
        0, 0, 1, 1), width=1))
    s.add(rect(hx0 + 0.5, hy0 + 0.5, hx1 - 0.5, hy1 - 0.5, 21.5, stroke=HOLSTER_EDGE, width=1))

    s.comment("grip ribs moulded into both side walls")
    for y in range(196, 452, 6):
        for x0, x1 in ((6, 15), (248, 260)):
            s.add(rect(x0, y, x1, y + 1, fill=HOLSTER_DARK, opacity=0.85))
            s.add(rect(x0, y + 1, x1, y + 2, fill="#ffd581", opacity=0.7))

    s.comment("raised lip of the holster around the meter's front")
    s.add(rect(fx0 - 3.5, fy0 - 3.5, fx1 + 3.5, fy1 + 3.5, 15.5, stroke=s.linear(
        [(0, "#ffe3a0", 0.9), (1, HOLSTER_DARK, 0.9)], 0, 0, 0.4, 1), width=1))
    s.add(rect(fx0 - 1.5, fy0 - 1.5, fx1 + 1.5, fy1 + 1.5, 13.5, stroke=s.linear(
        [(0, HOLSTER_DARK), (1, "#a86a08")], 0, 0, 0, 1), width=3))

    s.comment("front panel: flat, so that the key pictures' backgrounds match it exactly")
    s.add(rect(fx0, fy0, fx1, fy1, 12, fill=FACE))
    # The lip shades the panel along its edge; kept within 3 px, clear of every key.
    s.add(rect(fx0 + 0.5, fy0 + 0.5, fx1 - 0.5, fy1 - 0.5, 11.5, stroke="#000000", width=1,
               opacity=0.55))
    s.add(rect(fx0 + 1.5, fy0 + 1.5, fx1 - 1.5, fy1 - 1.5, 10.5, stroke="#000000", width=1,
               opacity=0.22))

    s.comment("brand and model above the display")
    d, _ = logotype(BEZEL_BOX[0] + 1, 19)
    s.add(path(d, fill="#ececec"))
    s.add(path(lt.path("AUDIO DMM-4", 7.5, BEZEL_BOX[2] - 1, 27, "end", 0.6), fill="#9ea2a7"))

    s.comment("display bezel; the display's divider lines run onto it in the same grey")
    bx0, by0, bx1, by1 = BEZEL_BOX
    s.add(rect(bx0, by0, bx1, by1, 4, fill=BEZEL))
    s.add(rect(bx0 + 0.5, by0 + 0.5, bx1 - 0.5, by1 - 0.5, 3.5, width=1, stroke=s.linear(
        [(0, "#5a5a5a"), (0.5, "#454545"), (1, "#2c2c2c")], 0, 0, 0, 1)))
    # A one-pixel gasket round the window: labels that reach one column past the window
    # (x 224) then end on near-black, not as notches in the grey frame.
    wx0, wy0, wx1, wy1 = WINDOW_BOX
    s.add(rect(wx0 - 1, wy0 - 1, wx1 + 1, wy1 + 1, fill=GASKET))
    s.add(rect(wx0, wy0, wx1, wy1, fill=WINDOW))

    draw_dial(s, lt)
    draw_sockets(s, lt)
    out("panel.svg", s.text())


def draw_dial(s, lt):
    cx, cy = DIAL_CENTRE
    s.comment("function dial: metal edge, flat plate for the lamps, knob with grip")
    # The legends come within 50 px of the centre, so the edge is one pixel and the shadow
    # falls only below, where no legend is.
    s.add(circle(cx, cy + 1.5, DIAL_PLATE_R + 1, fill="#000000", opacity=0.45))
    s.add(circle(cx, cy, DIAL_PLATE_R + 1, fill=s.linear(
        [(0, "#9aa0a7"), (0.45, "#55595e"), (1, "#1c1d1f")], 0, 0, 0.25, 1)))
    s.add(circle(cx, cy, DIAL_PLATE_R, fill=PLATE))

    s.comment("unlit lamps: the lit lamp picture covers one of them exactly")
    for bx, by in LAMP_BOXES:
        lx, ly = bx + 8.5, by + 8.5
        s.add(circle(lx, ly, LAMP_RING_R, fill="#2d2f2b"))
        s.add(circle(lx, ly, LAMP_DOME_R, fill=s.radial(
            [(0, "#56603a"), (0.7, "#323a1e"), (1, "#262b16")], lx - 1, ly - 1.5, 5,
            user=True)))
        s.add(circle(lx - 1.3, ly - 1.6, 1.2, fill="#ffffff", opacity=0.22))

    # Knob: its shadow falls downwards, onto the lamp-free lower half of the plate.
    s.add(circle(cx, cy + 2.5, KNOB_R + 0.5, fill="#000000", opacity=0.6))
    s.add(circle(cx, cy, KNOB_R, fill=s.radial(
        [(0, "#6f7378"), (0.55, "#45484c"), (1, "#26282b")], cx - 7, cy - 9, 30, user=True)))
    s.add(circle(cx, cy, KNOB_R - 0.5, stroke="#0e0f10", width=1))
    s.add(circle(cx, cy, KNOB_R - 1.5, stroke=s.linear(
        [(0, "#9a9ea4", 0.7), (0.5, "#000000", 0.0), (1, "#000000", 0.0)], 0, 0, 0.3, 1),
        width=1))
    # Grip bar across the knob, with a white pointer at its upper end.
    s.add(rect(cx - 5.5, cy - 20.5, cx + 5.5, cy + 21.5, 5, fill="#000000", opacity=0.45))
    s.add(rect(cx - 5.5, cy - 21.5, cx + 5.5, cy + 20.5, 5, fill=s.linear(
        [(0, "#2a2c2f"), (0.3, "#7d8187"), (0.55, "#5a5d62"), (1, "#25272a")], 0, 0, 1, 0)))
    s.add(rect(cx - 5, cy - 21, cx + 5, cy + 20, 4.5, stroke="#111214", width=1))
    s.add(rect(cx - 1.5, cy - 18.5, cx + 1.5, cy - 8.5, 1, fill="#f4f4f4"))


def draw_sockets(s, lt):
    s.comment("test-lead sockets with their leads")
    (ccx, ccy), (vcx, vcy) = SOCKETS["COM"], SOCKETS["V"]
    # Printed frame around the input section, with the socket names.
    s.add(rect(148.5, 420.5, 236.5, 482.5, 5, stroke="#4c4f54", width=1))
    s.add(path(lt.path("COM", 8, ccx, 432, "middle", 0.4), fill="#c8cacd"))
    s.add(path(lt.path("V", 8, vcx, 432, "middle"), fill="#e8473c"))

    def socket(x, y, ring, ring_dark):
        s.add(circle(x, y, 12, fill="#08090a"))
        s.add(circle(x, y, 11.5, stroke=s.linear([(0, ring), (1, ring_dark)], 0, 0, 0, 1),
                     width=3))
        s.add(circle(x, y, 10, stroke="#000000", width=1, opacity=0.6))

    socket(ccx, ccy, "#55585d", "#1b1c1e")
    socket(vcx, vcy, "#e2353a", "#7d0c11")

    def lead(x, y, sway, light, mid, dark):
        # The plug points at the viewer; its lead leaves the plug's back and hangs down.
        s.add(circle(x, y, 8.5, fill=s.radial(
            [(0, light), (0.55, mid), (1, dark)], x - 3, y - 4, 12, user=True)))
        s.add(circle(x, y, 8, stroke="#000000", width=1, opacity=0.35))
        left = f"M{x - 4} {y}C{x - 4} {y + 40} {x - 4 + sway} {y + 50} {x - 4 + sway} 540"
        right = f"L{x + 4 + sway} 540C{x + 4 + sway} {y + 50} {x + 4} {y + 40} {x + 4} {y}Z"
        lo, hi = min(x, x + sway) - 4, max(x, x + sway) + 4
        s.add(path(left + right, fill="#000000", opacity=0.35,
                   extra=f' transform="translate(1.5 1)"'))
        s.add(path(left + right, fill=s.linear(
            [(0, dark), (0.3, light), (0.55, mid), (1, dark)], lo, 0, hi, 0, user=True)))
        # Strain relief where the lead leaves the plug.
        s.add(circle(x, y, 5, fill=s.radial(
            [(0, light), (0.6, mid), (1, dark)], x - 1.5, y - 2, 6, user=True)))

    lead(ccx, ccy, -4, "#6a6d72", "#2a2b2e", "#0b0b0c")
    lead(vcx, vcy, 4, "#ff7a70", "#c3141c", "#5e0609")


# --- keys --------------------------------------------------------------------------------

KEY_W, KEY_H = 42, 25
KEY_BODY = (3, 2, 38, 22)    # same outline raised and pressed; centred on the 41 shown columns

KEY_COLOURS = {
    # name: (cap top, cap bottom, skirt, highlight)
    "grey": ("#8a8e94", "#62666c", "#3c3f43", "#c3c7cc"),
    "orange": ("#ffae4d", "#e7780f", "#9c4c05", "#ffd9a3"),
    "blue": ("#5aa0f0", "#2c69bf", "#173f7c", "#b9d8fb"),
}


def darker(colour, f):
    r, g, b = (int(colour[i:i + 2], 16) for i in (1, 3, 5))
    return "#%02x%02x%02x" % (round(r * f), round(g * f), round(b * f))


def draw_key(out, name, pressed):
    top, bottom, skirt, hi = KEY_COLOURS[name]
    s = Svg(KEY_W, KEY_H)
    x0, y0, x1, y1 = KEY_BODY
    s.add(rect(0, 0, KEY_W, KEY_H, fill=FACE))
    if not pressed:
        # Raised: it casts a shadow down onto the panel.
        # The shadow stops at the picture's last row, which must stay panel grey.
        s.add(rect(x0 - 0.5, y0 + 1.5, x1 + 0.5, KEY_H - 1, 5, fill="#000000", opacity=0.3))
        s.add(rect(x0, y0 + 1, x1, y1 + 1.5, 4.5, fill="#000000", opacity=0.5))
        s.add(rect(x0, y0, x1, y1, 4, fill=skirt))
        s.add(rect(x0 + 1, y0 + 1, x1 - 1, y1 - 3, 3, fill=s.linear(
            [(0, top), (1, bottom)], 0, 0, 0, 1)))
        s.add(path(f"M{x0 + 4} {y0 + 1.5}H{x1 - 4}", stroke=hi, width=1, opacity=0.9))
        s.add(rect(x0 + 1.5, y1 - 3.5, x1 - 1.5, y1 - 2.5, fill="#000000", opacity=0.25))
    else:
        # Pressed: sunk into its well, darker, lit less; the cap moves down one pixel.
        s.add(rect(x0, y0, x1, y1, 4, fill=darker(skirt, 0.55)))
        s.add(rect(x0 + 1, y0 + 2, x1 - 1, y1 - 1, 3, fill=s.linear(
            [(0, darker(top, 0.72)), (1, darker(bottom, 0.72))], 0, 0, 0, 1)))
        s.add(path(f"M{x0 + 3} {y0 + 2.5}H{x1 - 3}", stroke="#000000", width=1, opacity=0.45))
        s.add(path(f"M{x0 + 4} {y1 - 1.5}H{x1 - 4}", stroke=hi, width=1, opacity=0.18))
    s.add(rect(x0 - 0.5, y0 - 0.5, x1 + 0.5, y1 + 0.5, 4.5, stroke="#0d0e0f", width=1))
    out(f"key_{name}{'_pressed' if pressed else ''}.svg", s.text())


# --- lamp --------------------------------------------------------------------------------

def draw_lamp(out):
    s = Svg(18, 20)
    lx, ly = 8.5, 8.5
    s.add(rect(0, 0, 18, 20, fill=PLATE))
    # Glow fades to nothing a pixel inside the box edge, so the box never shows.
    s.add(circle(lx, ly, 7.5, fill=s.radial(
        [(0, "#d8ff4a", 0.6), (0.7, "#c4f03a", 0.3), (1, "#c4f03a", 0.0)], lx, ly, 7.5,
        user=True)))
    s.add(circle(lx, ly, LAMP_RING_R, fill="#2d2f2b"))
    s.add(circle(lx, ly, LAMP_DOME_R, fill=s.radial(
        [(0, "#fbffd8"), (0.35, "#e2ff6a"), (0.8, "#a9dc22"), (1, "#7fa914")],
        lx - 1, ly - 1.5, 5.5, user=True)))
    s.add(circle(lx - 1.3, ly - 1.6, 1.3, fill="#ffffff", opacity=0.85))
    out("lamp.svg", s.text())


# --- icon --------------------------------------------------------------------------------

def draw_icon(out):
    """The meter in its holster. Every edge is on an even coordinate, so the 16 x 16
    rendering is as sharp as the 32 x 32 one."""
    s = Svg(32, 32)
    s.add(rect(2, 0, 30, 32, 7, fill=HOLSTER))
    s.add(rect(2.5, 0.5, 29.5, 31.5, 6.5, stroke=HOLSTER_EDGE, width=1))
    s.add(rect(6, 2, 26, 30, 3, fill=FACE))
    s.add(rect(8, 4, 24, 14, fill=WINDOW))
    # A reading on the display: one bold cyan bar, still legible at 16 px.
    s.add(rect(10, 8, 22, 10, fill="#00c0c0"))
    s.add(circle(16, 22, 6, fill=s.radial(
        [(0, "#7a7e84"), (1, "#3c3f43")], 14, 20, 8, user=True)))
    s.add(circle(16, 22, 5.5, stroke="#111214", width=1))
    s.add(rect(15, 16, 17, 22, fill="#f4f4f4"))
    s.add(circle(9, 18, 1, fill="#c4f03a"))
    out("icon.svg", s.text())


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")

    def out(name, text):
        with open(os.path.join(target, name), "w", encoding="utf-8") as f:
            f.write(text)
        print("wrote", os.path.join(target, name))

    draw_panel(out)
    for name in KEY_COLOURS:
        for pressed in (False, True):
            draw_key(out, name, pressed)
    draw_lamp(out)
    draw_icon(out)


if __name__ == "__main__":
    main()
