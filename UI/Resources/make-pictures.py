#!/usr/bin/env python3
"""Draws the program's pictures into images/ beside this script.

Every picture the windows load by name is made here from simple shapes in one
dark palette, so the set stays consistent and can be redrawn at any time:

    python3 make-pictures.py

Only the standard library is used (PNG written with zlib + struct). The output
is deterministic: the same script always gives byte-identical files.
Pictures carry no text; every label comes from the string tables.
"""

import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
SS = 4  # samples per pixel side for smooth edges

# ---- palette -------------------------------------------------------------

ACCENT = (52, 120, 214)      # main action buttons
NEUTRAL = (70, 78, 102)      # secondary buttons
GLYPH = (196, 206, 232)      # icons drawn on the dark window
PANEL = (34, 38, 52)         # window panels
PANEL_DARK = (26, 29, 40)
TRACK = (20, 22, 30)
BORDER = (98, 108, 138)
RED = (214, 64, 64)
GREEN = (70, 180, 110)
YELLOW = (236, 184, 52)
WHITE = (240, 243, 250)


def lighter(c, f=0.22):
    return tuple(min(255, round(v + (255 - v) * f)) for v in c)


def darker(c, f=0.25):
    return tuple(max(0, round(v * (1 - f))) for v in c)


def greyed(c):
    g = round(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2])
    g = round(g * 0.6 + 60 * 0.4)
    return (g, g, g)


# The four looks of a picture button, in the order of the name suffixes.
STATES = {
    "normal": lambda c: c,
    "hover": lighter,
    "press": darker,
    "disable": greyed,
}

# ---- drawing ---------------------------------------------------------------


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def fill_rect(self, color, alpha=1.0, rect=None):
        x0, y0, x1, y1 = rect if rect else (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self._blend(x, y, color, alpha)

    def shape(self, inside, color, alpha=1.0, box=None):
        """Paints where inside(x, y) holds, x/y in pixel units (centres at .5)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        step = 1.0 / SS
        offs = [(i + 0.5) * step for i in range(SS)]
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for sy in offs:
                    for sx in offs:
                        if inside(x + sx, y + sy):
                            hits += 1
                if hits:
                    self._blend(x, y, color, alpha * hits / (SS * SS))

    def _blend(self, x, y, color, a):
        p = self.px[y * self.w + x]
        r, g, b = (v / 255.0 for v in color)
        oa = a + p[3] * (1 - a)
        if oa <= 0:
            return
        p[0] = (r * a + p[0] * p[3] * (1 - a)) / oa
        p[1] = (g * a + p[1] * p[3] * (1 - a)) / oa
        p[2] = (b * a + p[2] * p[3] * (1 - a)) / oa
        p[3] = oa

    def png(self):
        rows = []
        for y in range(self.h):
            row = bytearray([0])
            for x in range(self.w):
                p = self.px[y * self.w + x]
                row += bytes(max(0, min(255, round(v * 255))) for v in p)
            rows.append(bytes(row))
        raw = b"".join(rows)

        def chunk(kind, data):
            c = struct.pack(">I", len(data)) + kind + data
            return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

        ihdr = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# Shape predicates -----------------------------------------------------------

def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width, start=None, sweep=None):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r - width / 2 <= d <= r + width / 2):
            return False
        if start is None:
            return True
        a = (math.degrees(math.atan2(y - cy, x - cx)) - start) % 360
        return a <= sweep
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
        t = max(0.0, min(1.0, t))
        return math.hypot(x - (ax + t * dx), y - (ay + t * dy)) <= width / 2
    return inside


def any_of(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


# ---- glyphs (drawn into a square of side s, in colour c) -------------------

def g_play(cv, s, c):
    cv.shape(polygon([(s * .3, s * .2), (s * .8, s * .5), (s * .3, s * .8)]), c)


def g_pause(cv, s, c):
    cv.shape(any_of(rounded(s * .25, s * .2, s * .42, s * .8, s * .04),
                    rounded(s * .58, s * .2, s * .75, s * .8, s * .04)), c)


def g_stop(cv, s, c):
    cv.shape(rounded(s * .22, s * .22, s * .78, s * .78, s * .08), c)


def g_arrow_up(cv, s, c):
    cv.shape(any_of(polygon([(s * .5, s * .12), (s * .85, s * .5), (s * .15, s * .5)]),
                    rounded(s * .4, s * .45, s * .6, s * .75, 0),
                    rounded(s * .15, s * .8, s * .85, s * .9, 0)), c)


def g_arrow_down(cv, s, c):
    cv.shape(any_of(polygon([(s * .5, s * .65), (s * .85, s * .3), (s * .15, s * .3)]),
                    rounded(s * .4, s * .08, s * .6, s * .35, 0),
                    rounded(s * .15, s * .8, s * .85, s * .9, 0)), c)


def g_home(cv, s, c):
    cv.shape(any_of(polygon([(s * .5, s * .12), (s * .9, s * .48), (s * .1, s * .48)]),
                    minus(rounded(s * .2, s * .45, s * .8, s * .88, 0),
                          rounded(s * .42, s * .6, s * .58, s * .9, 0))), c)


def g_magnifier(cv, s, c):
    w = max(1.5, s * .12)
    cv.shape(any_of(ring(s * .42, s * .42, s * .25, w),
                    segment(s * .6, s * .6, s * .85, s * .85, w * 1.3)), c)


def g_cross(cv, s, c, w=None):
    w = w or max(1.5, s * .13)
    cv.shape(any_of(segment(s * .28, s * .28, s * .72, s * .72, w),
                    segment(s * .72, s * .28, s * .28, s * .72, w)), c)


def g_tick(cv, s, c, w=None):
    w = w or max(1.6, s * .14)
    cv.shape(any_of(segment(s * .24, s * .52, s * .43, s * .72, w),
                    segment(s * .43, s * .72, s * .78, s * .3, w)), c)


def g_document(cv, s, c):
    body = polygon([(s * .25, s * .12), (s * .62, s * .12), (s * .77, s * .27),
                    (s * .77, s * .88), (s * .25, s * .88)])
    lines = any_of(*[rounded(s * .34, s * y, s * .68, s * (y + .05), 0) for y in (.42, .55, .68)])
    cv.shape(minus(body, lines), c)


def g_audio(cv, s, c):
    cv.shape(any_of(circle(s * .35, s * .72, s * .12), circle(s * .7, s * .64, s * .12),
                    rounded(s * .42, s * .2, s * .47, s * .72, 0),
                    rounded(s * .77, s * .14, s * .82, s * .64, 0),
                    polygon([(s * .42, s * .2), (s * .82, s * .12), (s * .82, s * .22), (s * .42, s * .3)])), c)


def g_archive(cv, s, c):
    box = rounded(s * .18, s * .2, s * .82, s * .85, s * .05)
    zip_ = any_of(*[rounded(s * (.46 if i % 2 else .5), s * (.24 + i * .08),
                            s * (.5 if i % 2 else .54), s * (.3 + i * .08), 0) for i in range(6)])
    cv.shape(minus(box, zip_), c)


def g_graphics(cv, s, c):
    frame = rounded(s * .14, s * .22, s * .86, s * .8, s * .06)
    inner = rounded(s * .2, s * .28, s * .8, s * .74, 0)
    cv.shape(any_of(minus(frame, inner),
                    polygon([(s * .22, s * .72), (s * .42, s * .45), (s * .58, s * .62),
                             (s * .66, s * .54), (s * .78, s * .72)]),
                    circle(s * .66, s * .38, s * .06)), c)


def g_video(cv, s, c):
    frame = rounded(s * .12, s * .24, s * .88, s * .78, s * .06)
    cv.shape(minus(frame, polygon([(s * .42, s * .36), (s * .64, s * .51), (s * .42, s * .66)])), c)


def g_other(cv, s, c):
    cv.shape(any_of(*[circle(s * x, s * .5, s * .08) for x in (.28, .5, .72)]), c)


def g_folder(cv, s, c):
    cv.shape(any_of(rounded(s * .1, s * .3, s * .9, s * .82, s * .06),
                    rounded(s * .1, s * .2, s * .45, s * .36, s * .05)), c)


def g_disk(cv, s, c):
    cv.shape(minus(rounded(s * .1, s * .3, s * .9, s * .72, s * .08),
                   circle(s * .75, s * .51, s * .06)), c)


def g_usb(cv, s, c):
    cv.shape(any_of(rounded(s * .3, s * .35, s * .7, s * .9, s * .06),
                    minus(rounded(s * .38, s * .1, s * .62, s * .36, 0),
                          any_of(rounded(s * .43, s * .18, s * .48, s * .25, 0),
                                 rounded(s * .52, s * .18, s * .57, s * .25, 0)))), c)


def g_image_file(cv, s, c):
    cv.shape(minus(circle(s * .5, s * .5, s * .4), circle(s * .5, s * .5, s * .1)), c)


def g_clock(cv, s, c):
    w = max(1.3, s * .1)
    cv.shape(any_of(ring(s * .5, s * .5, s * .35, w), segment(s * .5, s * .5, s * .5, s * .28, w),
                    segment(s * .5, s * .5, s * .66, s * .58, w)), c)


def g_calendar(cv, s, c):
    body = rounded(s * .14, s * .2, s * .86, s * .86, s * .06)
    cv.shape(minus(body, rounded(s * .22, s * .38, s * .78, s * .78, 0)), c)
    cv.shape(any_of(*[rounded(s * x, s * y, s * (x + .12), s * (y + .12), 0)
                      for x in (.26, .44, .62) for y in (.44, .6)]), c)


def g_list(cv, s, c):
    cv.shape(any_of(*[rounded(s * .15, s * y, s * .85, s * (y + .1), s * .03) for y in (.22, .45, .68)]), c)


def g_preview(cv, s, c):
    cv.shape(any_of(rounded(s * .3, s * .2, s * .7, s * .8, s * .04),
                    rounded(s * .08, s * .3, s * .24, s * .7, s * .03),
                    rounded(s * .76, s * .3, s * .92, s * .7, s * .03)), c)


def g_grid(cv, s, c):
    cv.shape(any_of(*[rounded(s * x, s * y, s * (x + .3), s * (y + .3), s * .04)
                      for x in (.15, .55) for y in (.15, .55)]), c)


def g_trash(cv, s, c):
    cv.shape(any_of(rounded(s * .2, s * .22, s * .8, s * .3, 0),
                    rounded(s * .4, s * .12, s * .6, s * .24, s * .03),
                    minus(polygon([(s * .26, s * .34), (s * .74, s * .34), (s * .7, s * .88), (s * .3, s * .88)]),
                          any_of(rounded(s * .4, s * .42, s * .45, s * .8, 0),
                                 rounded(s * .55, s * .42, s * .6, s * .8, 0)))), c)


def g_deep(cv, s, c):
    # A magnifier over stacked layers: a scan that goes deeper.
    cv.shape(any_of(*[rounded(s * .1, s * y, s * .55, s * (y + .08), s * .03) for y in (.55, .7, .85)]), c)
    g_magnifier(cv, s, c)


# ---- picture makers ------------------------------------------------------------

PICTURES = {}


def add(name, w, h, fn):
    PICTURES[name] = (w, h, fn)


def plate_button(base, w, h, color, radius=None):
    """A rounded plate per state; labels are drawn over it by the button."""
    r = radius if radius is not None else min(h / 2 - 1, 6)
    for state, look in STATES.items():
        def draw(cv, c=look(color), state=state):
            cv.shape(rounded(0.5, 0.5, w - 0.5, h - 0.5, r), darker(c, .35))
            cv.shape(rounded(1.5, 1.5, w - 1.5, h - 1.5, r - 1), c)
            if state != "disable":
                # A faint top light keeps the plate from looking flat.
                cv.shape(rounded(2, 2, w - 2, h * .45, r - 1), WHITE, 0.08)
        add(f"{base}_{state}", w, h, draw)


def glyph_button(base, side, glyph, color=GLYPH, plate=None):
    """A shape in the colour of each state, optionally on a round plate."""
    for state, look in STATES.items():
        def draw(cv, c=look(color), p=look(plate) if plate else None):
            if p:
                cv.shape(circle(side / 2, side / 2, side / 2 - .5), p)
            glyph(cv, side, c)
        add(f"{base}_{state}", side, side, draw)


def type_button(base, glyph, color):
    """The file-kind buttons of the kind page: a tile with a shape, 50 x 50."""
    side = 50
    for state, look in STATES.items():
        def draw(cv, tile=look(color), state=state):
            cv.shape(rounded(1, 1, side - 1, side - 1, 9), tile)
            if state in ("hover", "press"):
                cv.shape(minus(rounded(1, 1, side - 1, side - 1, 9), rounded(3, 3, side - 3, side - 3, 7)), WHITE, .5)
            glyph(cv, side, WHITE if state != "disable" else (150, 150, 150))
        add(f"{base}_{state}", side, side, draw)


def check_box(name, mark):
    side = 14

    def draw(cv):
        filled = mark is not None
        cv.shape(rounded(.5, .5, side - .5, side - .5, 2.5), BORDER if not filled else darker(ACCENT, .2))
        cv.shape(rounded(1.5, 1.5, side - 1.5, side - 1.5, 1.8), PANEL_DARK if not filled else ACCENT)
        if mark == "tick":
            g_tick(cv, side, WHITE, 1.9)
        elif mark == "dash":
            cv.shape(rounded(3.5, 6, side - 3.5, 8, .8), WHITE)
    add(name, side, side, draw)


def flat(name, w, h, color, border=None):
    def draw(cv):
        cv.fill_rect(color)
        if border:
            cv.fill_rect(border, 1.0, (0, h - 1, w, h))
    add(name, w, h, draw)


def icon(name, side, glyph, color=GLYPH):
    add(name, side, side, lambda cv: glyph(cv, side, color))


# Picture buttons --------------------------------------------------------------
plate_button("start", 140, 40, ACCENT, 8)
plate_button("continue", 140, 40, ACCENT, 8)
plate_button("back", 140, 40, NEUTRAL, 8)
plate_button("pop_button", 100, 30, NEUTRAL)
plate_button("botton_recover", 100, 30, GREEN)
glyph_button("home", 32, g_home, plate=NEUTRAL)
glyph_button("deepscan", 32, g_deep, plate=ACCENT)
glyph_button("pause", 16, g_pause)
glyph_button("play", 16, g_play)
glyph_button("stop", 16, g_stop)
glyph_button("export", 16, g_arrow_up)
glyph_button("import", 16, g_arrow_down)

type_button("icon_document", g_document, (64, 110, 200))
type_button("icon_audio", g_audio, (170, 84, 190))
type_button("icon_archive", g_archive, (190, 130, 50))
type_button("icon_graphics", g_graphics, (48, 160, 120))
type_button("icon_video", g_video, (200, 72, 90))
type_button("icon_other", g_other, (100, 110, 140))

# Check boxes: off, on, and mixed (some of the items below are chosen).
check_box("checkbox_no", None)
check_box("checkbox_yes", "tick")
check_box("checkbox_election", "dash")

# Small pictures --------------------------------------------------------------
icon("search_normal", 16, g_magnifier)
add("search_clear", 16, 16, lambda cv: (cv.shape(circle(8, 8, 7), (110, 118, 140)), g_cross(cv, 16, PANEL_DARK, 1.8)))
add("close_normal", 16, 16, lambda cv: (cv.shape(circle(8, 8, 7), RED), g_cross(cv, 16, WHITE, 1.8)))
icon("del_normal", 16, g_trash)
icon("del_press", 16, g_trash, RED)
add("deletered", 16, 16, lambda cv: (cv.shape(circle(8, 8, 6.5), RED), g_cross(cv, 16, WHITE, 1.8)))
add("select", 16, 16, lambda cv: cv.shape(polygon([(5, 3), (12, 8), (5, 13)]), WHITE))
icon("usb", 16, g_usb)
icon("mirror_image", 16, g_image_file)
add("loading", 16, 16, lambda cv: (cv.shape(ring(8, 8, 6, 2.2), BORDER, .45),
                                    cv.shape(ring(8, 8, 6, 2.2, -90, 100), GLYPH)))
add("warning_b", 48, 48, lambda cv: (
    cv.shape(polygon([(24, 3), (46, 43), (2, 43)]), YELLOW),
    cv.shape(polygon([(22, 16), (26, 16), (25, 31), (23, 31)]), PANEL_DARK),
    cv.shape(circle(24, 36.5, 2.4), PANEL_DARK)))
add("NSAscendingSortIndicator", 9, 8, lambda cv: cv.shape(polygon([(4.5, 1), (8.5, 7), (.5, 7)]), GLYPH))
add("NSDescendingSortIndicator", 9, 8, lambda cv: cv.shape(polygon([(.5, 1), (8.5, 1), (4.5, 7)]), GLYPH))

# Tree icons "<n>IconImage": 0 file-system root, 1 folder, 2-7 type roots,
# 8 root of a time tree, 9 year or month group, 10 other.
for n, (glyph, color) in enumerate([
        (g_disk, GLYPH), (g_folder, (120, 160, 230)),
        (g_graphics, (48, 170, 130)), (g_audio, (180, 100, 200)), (g_video, (210, 84, 100)),
        (g_archive, (200, 140, 60)), (g_document, (90, 140, 220)), (g_other, GLYPH),
        (g_clock, GLYPH), (g_calendar, (120, 160, 230)), (g_other, (130, 138, 160))]):
    icon(f"{n}IconImage", 16, glyph, color)

# View switcher segments: list, preview and grid, focused and idle.
icon("list_focus", 16, g_list, WHITE)
icon("list_no_hover", 16, g_list, (120, 128, 150))
icon("preview_focus", 16, g_preview, WHITE)
icon("preview_no_hover", 16, g_preview, (120, 128, 150))
icon("grid_focus", 16, g_grid, WHITE)
icon("grid_no_hover", 16, g_grid, (120, 128, 150))
# The application menu's button in the title bar.
icon("menu", 16, g_list, GLYPH)

# Share buttons: plain coloured discs (the button's tool tip names the place).
add("facebook", 24, 24, lambda cv: cv.shape(circle(12, 12, 11.5), (59, 89, 152)))
add("twitter", 24, 24, lambda cv: cv.shape(circle(12, 12, 11.5), (29, 161, 242)))
add("google", 24, 24, lambda cv: cv.shape(circle(12, 12, 11.5), (219, 68, 55)))

# Logos: the program's mark, a stylised disk with a rescue ring.
def g_logo(cv, s, c):
    cv.shape(circle(s / 2, s / 2, s * .46), ACCENT)
    cv.shape(ring(s / 2, s / 2, s * .3, s * .08), WHITE)
    cv.shape(circle(s / 2, s / 2, s * .08), WHITE)


icon("logo", 64, g_logo)
icon("title_logo", 24, g_logo)

# Backgrounds and bars: flat fills (most are scaled to their view).
flat("pop_header_bg", 64, 22, (44, 50, 68), BORDER)
flat("schedule_bg", 450, 65, PANEL_DARK)
flat("text_bg", 400, 50, PANEL)
flat("bg_150", 150, 150, PANEL_DARK)
flat("progress_bar_bg", 368, 6, TRACK)
add("bg_tab", 80, 24, lambda cv: cv.shape(rounded(.5, .5, 79.5, 30, 5), (52, 60, 84)))
add("view_bg_normal", 114, 94, lambda cv: cv.shape(rounded(.5, .5, 113.5, 93.5, 6), PANEL))
add("view_bg_press", 114, 94, lambda cv: (cv.shape(rounded(.5, .5, 113.5, 93.5, 6), ACCENT),
                                          cv.shape(rounded(2.5, 2.5, 111.5, 91.5, 4.5), (40, 52, 80))))


def dust(cv):
    # A tile repeated behind the grid: dark ground with a few faint specks.
    cv.fill_rect(PANEL_DARK)
    seed = 7
    for _ in range(24):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = seed % 64
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = seed % 64
        cv.fill_rect(GLYPH, .06, (x, y, x + 1, y + 1))


add("BackgroundDust", 64, 64, dust)


def main():
    os.makedirs(OUT, exist_ok=True)
    total = 0
    for name, (w, h, fn) in sorted(PICTURES.items()):
        cv = Canvas(w, h)
        fn(cv)
        data = cv.png()
        with open(os.path.join(OUT, name + ".png"), "wb") as f:
            f.write(data)
        total += len(data)
    print(f"{len(PICTURES)} pictures, {total} bytes in {OUT}")


if __name__ == "__main__":
    main()
