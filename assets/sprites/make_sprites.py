#!/usr/bin/env python3
"""Draws the toolbar's sprite strips: four frames side by side (normal, hot, pressed, unused).

Run from anywhere: python3 assets/sprites/make_sprites.py
Writes the PNG files next to this script. Only the standard library is used; shapes are
rasterised with 4 x 4 supersampling and written as 8-bit RGBA PNG.
"""
import math
import os
import struct
import zlib

SS = 4  # subsamples per pixel and axis


# ---- shapes: each is a function (x, y) -> bool in the icon's 32-unit canvas ----

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in, gap_from=None, gap_to=None):
    """A ring; with gap_from/gap_to (degrees, 0 = up, clockwise) a sector is left out."""
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        if gap_from is None:
            return True
        a = math.degrees(math.atan2(x - cx, -(y - cy))) % 360
        return not (gap_from <= a <= gap_to or gap_from <= a + 360 <= gap_to)
    return inside


def ellipse_ring(cx, cy, rx, ry, w):
    def inside(x, y):
        o = ((x - cx) / (rx + w / 2)) ** 2 + ((y - cy) / (ry + w / 2)) ** 2
        i = ((x - cx) / max(rx - w / 2, 0.01)) ** 2 + ((y - cy) / max(ry - w / 2, 0.01)) ** 2
        return o <= 1 and i >= 1
    return inside


def rrect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 1e-9
    return inside


def segment(x0, y0, x1, y1, w):
    """A stroke with round caps."""
    dx, dy = x1 - x0, y1 - y0
    ll = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if ll == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / ll))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return inside


def polyline(points, w):
    segs = [segment(*points[i], *points[i + 1], w) for i in range(len(points) - 1)]
    return lambda x, y: any(s(x, y) for s in segs)


def polygon(points):
    def inside(x, y):
        c = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                c = not c
        return c
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def gear(cx, cy, r_body, r_tooth, teeth, hole):
    body = circle(cx, cy, r_body)
    tooth_half = math.pi / teeth / 2.2

    def tooth(x, y):
        if math.hypot(x - cx, y - cy) > r_tooth:
            return False
        return math.atan2(y - cy, x - cx) % (2 * math.pi / teeth) < 2 * tooth_half
    return minus(union(body, tooth), circle(cx, cy, hole))


# ---- colours (R, G, B, A) ----
WHITE = (255, 255, 255, 255)
PAPER = (242, 246, 252, 255)
SHADOW = (10, 30, 80, 120)
GREEN = (52, 178, 64, 255)
DARKGREEN = (30, 120, 40, 255)
RED = (222, 52, 44, 255)
ORANGE = (246, 160, 30, 255)
GREY = (150, 158, 170, 255)
NAVY = (30, 58, 128, 255)
STEEL = (200, 208, 220, 255)
BROWN = (150, 92, 48, 255)


def check_mark(x0, y0, scale, w):
    return polyline([(x0, y0), (x0 + 5 * scale, y0 + 5 * scale), (x0 + 14 * scale, y0 - 8 * scale)], w)


def arrow_down(cx, top, shaft_w, head_w, bottom, head_h):
    shaft = rrect(cx - shaft_w / 2, top, cx + shaft_w / 2, bottom - head_h + 0.5, 1)
    head = polygon([(cx - head_w / 2, bottom - head_h), (cx + head_w / 2, bottom - head_h), (cx, bottom)])
    return union(shaft, head)


def badge_check(cx, cy, r):
    return [(circle(cx, cy, r + 1.2), WHITE), (circle(cx, cy, r), GREEN),
            (check_mark(cx - r * 0.55, cy + r * 0.05, r / 11.0, r * 0.32), WHITE)]


# Each pictogram: a list of (shape, colour), painted in order, in a 32-unit square canvas.
def pict_download():
    tray = union(rrect(5, 24, 27, 28, 1.5), rrect(5, 19, 8.5, 28, 1.5), rrect(23.5, 19, 27, 28, 1.5))
    return [(tray, PAPER), (arrow_down(16, 3, 7, 17, 22, 9), GREEN)]


def pict_download_check():
    tray = union(rrect(3, 23, 21, 27, 1.5), rrect(3, 18, 6.5, 27, 1.5), rrect(17.5, 18, 21, 27, 1.5))
    return [(tray, PAPER), (arrow_down(12, 2, 6, 15, 20, 8), GREEN)] + badge_check(24, 22, 6.5)


def pict_check():
    sheet = rrect(6, 3, 24, 29, 2)
    lines = union(*[rrect(9, y, 21, y + 1.6, 0.8) for y in (8, 12.5, 17)])
    return [(sheet, PAPER), (lines, GREY), (check_mark(12, 21, 1.05, 4.2), GREEN)]


def pict_stop():
    pts = [(16 + 13 * math.cos(math.radians(22.5 + 45 * i)), 16 + 13 * math.sin(math.radians(22.5 + 45 * i)))
           for i in range(8)]
    inner = [(16 + 11.3 * math.cos(math.radians(22.5 + 45 * i)), 16 + 11.3 * math.sin(math.radians(22.5 + 45 * i)))
             for i in range(8)]
    return [(polygon(pts), WHITE), (polygon(inner), RED), (rrect(10.5, 10.5, 21.5, 21.5, 1), WHITE)]


def pict_delete():
    x = union(segment(8, 8, 24, 24, 5.5), segment(24, 8, 8, 24, 5.5))
    x_halo = union(segment(8, 8, 24, 24, 8), segment(24, 8, 8, 24, 8))
    return [(x_halo, WHITE), (x, RED)]


def pict_switch(on):
    pill = rrect(1.5, 8, 30.5, 24.5, 8.25)
    pill_in = rrect(3.2, 9.7, 28.8, 22.8, 6.55)
    x = 22.3 if on else 9.7
    return [(pill, WHITE), (pill_in, GREEN if on else GREY), (circle(x, 16.25, 6.2), WHITE),
            (circle(x, 16.25, 4.2), PAPER)]


def pict_settings():
    return [(gear(16, 16, 11, 14.6, 8, 3.4), (70, 84, 110, 255)),
            (gear(16, 16, 10, 13.5, 8, 4.2), STEEL), (ring(16, 16, 10, 8.6), WHITE),
            (ring(16, 16, 5.6, 4.2), GREY)]


def pict_save():
    body = rrect(5, 5, 27, 27, 2.5)
    body_in = rrect(6.5, 6.5, 25.5, 25.5, 1.5)
    label = rrect(9, 17, 23, 25.5, 1)
    shutter = rrect(10, 6.5, 21, 13, 0.8)
    slot = rrect(17.5, 7.8, 19.5, 11.8, 0.3)
    lines = union(rrect(11, 19.5, 21, 20.5), rrect(11, 22, 21, 23))
    return [(body, WHITE), (body_in, NAVY), (label, PAPER), (lines, GREY), (shutter, STEEL), (slot, NAVY)]


def pict_exit():
    frame = minus(rrect(4, 4, 19, 28, 1.5), rrect(6.5, 6.5, 16.5, 28.5))
    door = polygon([(6.5, 6.5), (15, 9), (15, 29), (6.5, 27.5)])
    knob = circle(13, 18, 1.1)
    arrow = union(rrect(15, 14.2, 24, 17.8, 1), polygon([(22, 9.5), (30, 16), (22, 22.5)]))
    arrow_halo = union(rrect(14, 13, 25, 19, 1.5), polygon([(20.7, 7.2), (31.8, 16), (20.7, 24.8)]))
    return [(frame, PAPER), (door, BROWN), (knob, ORANGE), (arrow_halo, WHITE), (arrow, RED)]


def pict_web_check():
    globe = circle(14, 14, 11)
    lines = union(ellipse_ring(14, 14, 4.5, 11, 1.4), rrect(3, 13.3, 25, 14.7),
                  rrect(4.5, 8, 23.5, 9.2), rrect(4.5, 18.8, 23.5, 20))
    return [(circle(14, 14, 12.3), WHITE), (globe, (58, 140, 220, 255)), (lines, WHITE),
            (ring(14, 14, 11, 9.8), WHITE)] + badge_check(24, 24, 6.5)


def pict_about():
    return [(circle(16, 16, 13), WHITE), (circle(16, 16, 11.5), (40, 110, 210, 255)),
            (circle(16, 9.5, 2.2), WHITE), (rrect(13.8, 13.5, 18.2, 24.5, 1.2), WHITE)]


# ---- rendering ----

def blend(dst, src):
    """src over dst, both non-premultiplied RGBA floats in 0..1."""
    sa = src[3]
    da = dst[3]
    oa = sa + da * (1 - sa)
    if oa <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    return tuple((src[i] * sa + dst[i] * da * (1 - sa)) / oa for i in range(3)) + (oa,)


def render_frame(width, height, layers):
    """layers: list of (shape in pixel coordinates, rgba 0..255). Returns rows of RGBA bytes."""
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied sums
            for j in range(SS):
                for i in range(SS):
                    x = px + (i + 0.5) / SS
                    y = py + (j + 0.5) / SS
                    c = (0.0, 0.0, 0.0, 0.0)
                    for shape, rgba in layers:
                        if shape(x, y):
                            c = blend(c, tuple(v / 255.0 for v in rgba))
                    acc[0] += c[0] * c[3]
                    acc[1] += c[1] * c[3]
                    acc[2] += c[2] * c[3]
                    acc[3] += c[3]
            n = SS * SS
            a = acc[3] / n
            if a <= 0:
                row += bytes(4)
            else:
                row += bytes([round(acc[k] / n / a * 255) for k in range(3)] + [round(a * 255)])
        rows.append(bytes(row))
    return rows


def scaled(shape, k, dx=0.0, dy=0.0):
    return lambda x, y: shape((x - dx) / k, (y - dy) / k)


def frame_layers(pict, width, height, kind, unit):
    """kind: 0 normal, 1 hot, 2 pressed. unit: pixels per canvas unit."""
    layers = []
    shift = 1.0 if kind == 2 else 0.0
    # Centre the 32-unit canvas in the frame.
    ox = (width - 32 * unit) / 2 + shift
    oy = (height - 32 * unit) / 2 + shift
    if kind == 1:
        layers.append((rrect(0.5, 0.5, width - 0.5, height - 0.5, 4), (255, 255, 255, 140)))
        layers.append((rrect(1.5, 1.5, width - 1.5, height - 1.5, 3.2), (170, 205, 250, 90)))
    elif kind == 2:
        layers.append((rrect(0.5, 0.5, width - 0.5, height - 0.5, 4), (255, 255, 255, 130)))
        layers.append((rrect(1.5, 1.5, width - 1.5, height - 1.5, 3.2), (20, 50, 110, 110)))
    for shape, _ in pict:
        layers.append((scaled(shape, unit, ox + 0.9 * unit, oy + 0.9 * unit), SHADOW))
    for shape, rgba in pict:
        layers.append((scaled(shape, unit, ox, oy), rgba))
    return layers


def more_layers(kind, width, height):
    shift = 1.0 if kind == 2 else 0.0
    tri = [(5 + shift, 12 + shift), (14 + shift, 12 + shift), (9.5 + shift, 17.5 + shift)]
    halo = [(3.2 + shift, 11 + shift), (15.8 + shift, 11 + shift), (9.5 + shift, 19.2 + shift)]
    layers = []
    if kind == 1:
        layers.append((rrect(0.5, 0.5, width - 0.5, height - 0.5, 3.5), (255, 255, 255, 140)))
        layers.append((rrect(1.5, 1.5, width - 1.5, height - 1.5, 2.8), (170, 205, 250, 90)))
    elif kind == 2:
        layers.append((rrect(0.5, 0.5, width - 0.5, height - 0.5, 3.5), (255, 255, 255, 130)))
        layers.append((rrect(1.5, 1.5, width - 1.5, height - 1.5, 2.8), (20, 50, 110, 110)))
    layers.append((polygon(halo), SHADOW))
    layers.append((polygon(tri), WHITE))
    return layers


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + r for r in rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xffffffff)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def strip(frames_rows, height):
    return [b"".join(fr[y] for fr in frames_rows) for y in range(height)]


# file name, pictogram, frame width, frame height
ICONS = [
    ("download", pict_download, 32, 32),
    ("download_check", pict_download_check, 32, 32),
    ("check", pict_check, 32, 32),
    ("stop", pict_stop, 32, 32),
    ("delete", pict_delete, 29, 29),
    ("proxy_on", lambda: pict_switch(True), 29, 29),
    ("proxy_off", lambda: pict_switch(False), 29, 29),
    ("settings", pict_settings, 32, 32),
    ("more", None, 19, 28),
    ("save", pict_save, 32, 32),
    ("exit", pict_exit, 32, 32),
    ("web_check", pict_web_check, 29, 29),
    ("about", pict_about, 29, 29),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, pict, fw, fh in ICONS:
        frames = []
        for kind in (0, 1, 2):
            if fw == 32 and kind == 2:
                frames.append(frames[1])  # the large strips press with the hot frame
                continue
            if pict is None:
                layers = more_layers(kind, fw, fh)
            else:
                # The 32-unit canvas is drawn 4 px smaller than the frame: 28 px in a 32 px
                # frame, 25 px in a 29 px one.
                layers = frame_layers(pict(), fw, fh, kind, (fw - 4) / 32.0)
            frames.append(render_frame(fw, fh, layers))
        frames.append([bytes(fw * 4)] * fh)  # frame 3: never shown, fully transparent
        write_png(os.path.join(here, name + ".png"), fw * 4, fh, strip(frames, fh))
        print(name, fw * 4, "x", fh)


if __name__ == "__main__":
    main()
