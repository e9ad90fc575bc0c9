#!/usr/bin/env python3
"""Draws the program's artwork: the logo bitmap (QUORVEX wordmark beside an ESC
emblem, on the pure-green key colour) and the application icon (the emblem alone,
five sizes). Standard library only, and deterministic: the same script always
gives the same bytes, so the build makes the files instead of keeping them.

Shapes are polygons filled with analytic horizontal and 4x (logo) or 8x (icon)
vertical antialiasing. Edges between shapes are smooth; the outline against the
key colour is hard, because the dialog paints the logo with TransparentBlt, which
only drops pixels that are exactly green: a blended edge pixel would show as a
green fringe.
"""
import argparse
import os
import math
import struct
import zlib

LOGO_WIDTH, LOGO_HEIGHT = 1772, 263
KEY_GREEN = (0, 255, 0)
ICON_SIZES = (16, 32, 48, 64, 128)

GRAPHITE_TOP, GRAPHITE_BOTTOM = (52, 58, 68), (18, 21, 26)
INK = (14, 16, 20)
RED_TOP, RED_BOTTOM = (238, 52, 58), (168, 20, 28)
CHROME_TOP, CHROME_BOTTOM = (250, 251, 252), (196, 202, 210)
BOLT_TOP, BOLT_BOTTOM = (255, 222, 64), (255, 160, 0)
FIN = (132, 140, 152)


# ---------------------------------------------------------------- geometry

def arc(cx, cy, r, a0, a1, steps=None):
    """Points on a circle arc from angle a0 to a1 (degrees, y axis downwards)."""
    if steps is None:
        steps = max(4, int(abs(a1 - a0) / 90 * 14))
    return [(cx + r * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + r * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def rrect(x0, y0, x1, y1, radii):
    """Rectangle with rounded corners; radii = (top-left, top-right, bottom-right, bottom-left)."""
    tl, tr, br, bl = (radii,) * 4 if isinstance(radii, (int, float)) else radii
    pts = []
    pts += arc(x0 + tl, y0 + tl, tl, 180, 270) if tl else [(x0, y0)]
    pts += arc(x1 - tr, y0 + tr, tr, 270, 360) if tr else [(x1, y0)]
    pts += arc(x1 - br, y1 - br, br, 0, 90) if br else [(x1, y1)]
    pts += arc(x0 + bl, y1 - bl, bl, 90, 180) if bl else [(x0, y1)]
    return pts


def circle(cx, cy, r):
    return arc(cx, cy, r, 0, 360, 160)[:-1]


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def transform(contour, scale=1.0, dx=0.0, dy=0.0, shear=0.0, shear_y=0.0):
    """Scale, then slant (x grows with the height above shear_y), then move."""
    return [(x * scale + shear * (shear_y - y * scale) + dx, y * scale + dy) for x, y in contour]


def area(contour):
    n = len(contour)
    return sum(contour[i][0] * contour[(i + 1) % n][1] - contour[(i + 1) % n][0] * contour[i][1]
               for i in range(n)) / 2


def offset(contour, d):
    """The contour grown outwards by d (mitred corners, limited), for outlines."""
    def moved(sign):
        n = len(contour)
        out = []
        for i in range(n):
            (px, py), (x, y), (qx, qy) = contour[i - 1], contour[i], contour[(i + 1) % n]
            normals = []
            for ex, ey in ((x - px, y - py), (qx - x, qy - y)):
                length = math.hypot(ex, ey) or 1.0
                normals.append((sign * ey / length, -sign * ex / length))
            mx, my = normals[0][0] + normals[1][0], normals[0][1] + normals[1][1]
            ml = math.hypot(mx, my) or 1.0
            mx, my = mx / ml, my / ml
            cos_half = max(0.35, mx * normals[0][0] + my * normals[0][1])
            out.append((x + mx * d / cos_half, y + my * d / cos_half))
        return out
    return max(moved(1), moved(-1), key=lambda c: abs(area(c)))


# ---------------------------------------------------------------- letters
# Each glyph: (advance width, [parts]); a part is a list of contours filled
# even-odd, so a second contour cuts a hole. Glyph boxes are 0..w by 0..H.

H = 118.0   # cap height
S = 27.0    # stroke
R = 40.0    # outer corner radius


def glyph_o(w):
    return [[rrect(0, 0, w, H, R), rrect(S, S, w - S, H - S, R - S)]]


def glyph_q(w):
    tail = [(w * 0.60, H * 0.66), (w * 0.60 + S * 1.25, H * 0.66), (w + 12, H + 10), (w + 12 - S * 1.25, H + 10)]
    return glyph_o(w) + [[tail]]


def glyph_u(w):
    outer = rrect(0, 0, w, H, (0, 0, R, R))
    inner = rrect(S, 0, w - S, H - S, (0, 0, R - S, R - S))
    return [[outer, inner]]


def glyph_r(w):
    bowl_bottom = H * 0.60
    bowl = [rrect(0, 0, w, bowl_bottom, (0, R, R * 0.8, 0)),
            rrect(S, S, w - S, bowl_bottom - S, (0, R - S, max(R * 0.8 - S, 0), 0))]
    stem = [rect(0, 0, S, H)]
    leg = [[(w * 0.40, bowl_bottom - S), (w * 0.40 + S * 1.35, bowl_bottom - S), (w, H), (w - S * 1.35, H)]]
    return [bowl, stem, leg]


def glyph_v(w):
    s1 = S * 1.2
    t = (w / 2 - s1) / (w / 2 - s1 / 2)
    return [[[(0, 0), (s1, 0), (w / 2, t * H), (w - s1, 0), (w, 0), (w / 2 + s1 / 2, H), (w / 2 - s1 / 2, H)]]]


def glyph_e(w):
    mid0, mid1 = (H - S) / 2, (H + S) / 2
    pts = arc(R, R, R, 180, 270) + [(w, 0), (w, S), (S, S), (S, mid0), (w * 0.84, mid0), (w * 0.84, mid1),
                                    (S, mid1), (S, H - S), (w, H - S), (w, H)] + arc(R, H - R, R, 90, 180)
    return [[pts]]


def glyph_x(w):
    s1 = S * 1.2
    return [[[(0, 0), (s1, 0), (w, H), (w - s1, H)]], [[(w - s1, 0), (w, 0), (s1, H), (0, H)]]]


WORDMARK = [("Q", glyph_q, 178), ("U", glyph_u, 160), ("O", glyph_o, 178), ("R", glyph_r, 160),
            ("V", glyph_v, 168), ("E", glyph_e, 142), ("X", glyph_x, 168)]
LETTER_GAP = 34.0


# ---------------------------------------------------------------- raster

def vertical(top, bottom, y0, y1):
    """A paint: colour by row, from `top` at y0 to `bottom` at y1."""
    def paint(y):
        t = min(1.0, max(0.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return paint


def solid(colour):
    return lambda y: colour


class Canvas:
    """Premultiplied RGBA in floats, composited shape by shape ("over")."""

    def __init__(self, width, height, subrows):
        self.w, self.h, self.k = width, height, subrows
        self.r = [0.0] * (width * height)
        self.g = [0.0] * (width * height)
        self.b = [0.0] * (width * height)
        self.a = [0.0] * (width * height)

    def fill(self, contours, paint):
        edges = []
        ys = []
        for c in contours:
            for i in range(len(c)):
                (xa, ya), (xb, yb) = c[i], c[(i + 1) % len(c)]
                if ya != yb:
                    edges.append((xa, ya, xb, yb) if ya < yb else (xb, yb, xa, ya))
                    ys += [ya, yb]
        if not edges:
            return
        row0 = max(0, int(math.floor(min(ys))))
        row1 = min(self.h, int(math.ceil(max(ys))))
        w, k = self.w, self.k
        for row in range(row0, row1):
            cover = [0.0] * (w + 1)
            run = [0.0] * (w + 1)
            for j in range(k):
                y = row + (j + 0.5) / k
                xs = sorted(xa + (y - ya) * (xb - xa) / (yb - ya)
                            for xa, ya, xb, yb in edges if ya <= y < yb)
                for xs0, xs1 in zip(xs[0::2], xs[1::2]):
                    xs0, xs1 = max(0.0, xs0), min(float(w), xs1)
                    if xs1 <= xs0:
                        continue
                    p0, p1 = int(xs0), int(xs1)
                    if p0 == p1:
                        cover[p0] += (xs1 - xs0) / k
                        continue
                    cover[p0] += (p0 + 1 - xs0) / k
                    run[p0 + 1] += 1.0 / k
                    run[p1] -= 1.0 / k
                    cover[p1] += (xs1 - p1) / k
            colour = paint(row + 0.5)
            base = row * w
            acc = 0.0
            for x in range(w):
                acc += run[x]
                cov = acc + cover[x]
                if cov <= 1e-6:
                    continue
                cov = min(cov, 1.0)
                i = base + x
                keep = 1.0 - cov
                self.r[i] = self.r[i] * keep + colour[0] * cov
                self.g[i] = self.g[i] * keep + colour[1] * cov
                self.b[i] = self.b[i] * keep + colour[2] * cov
                self.a[i] = self.a[i] * keep + cov

    def pixel(self, i):
        """Straight (not premultiplied) RGB and alpha of pixel i."""
        a = self.a[i]
        if a <= 0.0:
            return (0, 0, 0), 0.0
        return tuple(min(255, int(round(c / a))) for c in (self.r[i], self.g[i], self.b[i])), a


# ---------------------------------------------------------------- artwork

def emblem(canvas, cx, cy, radius, detailed):
    """Round badge: red disc in a dark ring, an ESC with its heat-sink fins and a
    lightning bolt across it."""
    u = radius / 124.0
    canvas.fill([circle(cx, cy, radius)], solid(INK))
    canvas.fill([circle(cx, cy, radius - 9 * u)], vertical(RED_TOP, RED_BOTTOM, cy - radius, cy + radius))
    canvas.fill([circle(cx, cy, radius - 9 * u), circle(cx, cy, radius - 15 * u)],
                solid((250, 120, 120)))
    if detailed:
        bx0, by0, bx1, by1 = cx - 70 * u, cy - 30 * u, cx + 70 * u, cy + 52 * u
        for i in range(6):
            fx = bx0 + 14 * u + i * 22.4 * u
            canvas.fill([rrect(fx, by0 - 24 * u, fx + 11 * u, by0 + 6 * u, 3 * u)], solid(FIN))
        canvas.fill([rrect(bx0, by0, bx1, by1, 14 * u)], vertical(GRAPHITE_TOP, GRAPHITE_BOTTOM, by0, by1))
        for i, colour in enumerate(((40, 40, 44), (200, 30, 36), (36, 92, 190))):
            wy = by1 - 4 * u
            wx = cx - 36 * u + i * 36 * u
            canvas.fill([rrect(wx - 6 * u, wy, wx + 6 * u, wy + 32 * u, 5 * u)], solid(colour))
    bolt = [(0.58, 0.0), (0.12, 0.56), (0.46, 0.56), (0.34, 1.0), (0.88, 0.38), (0.53, 0.38), (0.70, 0.0)]
    size = (168 if detailed else 196) * u
    pts = [(cx + (x - 0.5) * size * 0.78, cy + (y - 0.5) * size) for x, y in bolt]
    canvas.fill([offset(pts, (7 if detailed else 11) * u)], solid(INK))
    canvas.fill([pts], vertical(BOLT_TOP, BOLT_BOTTOM, cy - size / 2, cy + size / 2))


def draw_logo():
    c = Canvas(LOGO_WIDTH, LOGO_HEIGHT, 4)
    slant = math.tan(math.radians(12))
    plate_top, plate_bottom = 46.0, 217.0
    plate = [(200 + slant * (plate_bottom - plate_top), plate_top), (1736.0, plate_top),
             (1736.0 - slant * (plate_bottom - plate_top), plate_bottom), (200.0, plate_bottom)]
    c.fill([plate], vertical(GRAPHITE_TOP, GRAPHITE_BOTTOM, plate_top, plate_bottom))
    stripe_top = plate_bottom - 16
    stripe = [(200 + slant * (plate_bottom - stripe_top), stripe_top),
              (1736.0 - slant * (stripe_top - plate_top), stripe_top),
              (1736.0 - slant * (plate_bottom - plate_top), plate_bottom), (200.0, plate_bottom)]
    c.fill([stripe], vertical(RED_TOP, RED_BOTTOM, stripe_top, plate_bottom))

    text_top = plate_top + (stripe_top - plate_top - H) / 2
    baseline = text_top + H
    x = 318.0
    for name, glyph, width in WORDMARK:
        paint = (vertical(RED_TOP, RED_BOTTOM, text_top, baseline) if name == "X"
                 else vertical(CHROME_TOP, CHROME_BOTTOM, text_top, baseline))
        for part in glyph(width):
            c.fill([transform(contour, dx=x, dy=text_top, shear=slant, shear_y=H) for contour in part], paint)
        x += width + LETTER_GAP
    emblem(c, 131.0, 131.0, 126.0, True)
    return c


def draw_icon(size):
    c = Canvas(size, size, 8)
    emblem(c, size / 2, size / 2, size / 2 - 0.25, size >= 48)
    return c


# ---------------------------------------------------------------- files

def bmp_bytes(canvas):
    """24-bit bottom-up BI_RGB file; pixels mostly transparent become the key green."""
    rows = []
    for y in range(canvas.h - 1, -1, -1):
        row = bytearray()
        for x in range(canvas.w):
            rgb, a = canvas.pixel(y * canvas.w + x)
            r, g, b = KEY_GREEN if a < 0.5 else rgb
            if (r, g, b) == KEY_GREEN and a >= 0.5:
                g = 254  # keep drawn pixels out of the key colour
            row += bytes((b, g, r))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def icon_image(canvas):
    """One icon image: 40-byte header (double height), BGRA rows bottom-up, AND mask."""
    n = canvas.w
    xor = bytearray()
    mask = bytearray()
    mask_row = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(n):
            rgb, a = canvas.pixel(y * n + x)
            alpha = int(round(a * 255))
            xor += bytes((rgb[2], rgb[1], rgb[0], alpha)) if alpha else bytes(4)
            if alpha < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico_bytes(canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    pos = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), pos)
        pos += len(img)
    return out + b"".join(images)


def png_bytes(canvas, transparent_key):
    """RGBA PNG for documentation; the key colour becomes transparent."""
    raw = bytearray()
    for y in range(canvas.h):
        raw.append(0)
        for x in range(canvas.w):
            rgb, a = canvas.pixel(y * canvas.w + x)
            if transparent_key:
                a = 1.0 if a >= 0.5 else 0.0
            raw += bytes((*rgb, int(round(a * 255))))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    ihdr = struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bmp", help="logo bitmap to write")
    p.add_argument("--ico", help="icon file to write")
    p.add_argument("--logo-png", help="PNG copy of the logo (green transparent)")
    p.add_argument("--icon-png", help="PNG copy of the largest icon image")
    p.add_argument("--icon-theme", metavar="DIR",
                   help="each icon size as DIR/<n>x<n>/apps/orvanta-updater.png, as a desktop's "
                        "icon theme (hicolor) keeps them")
    args = p.parse_args()
    if args.bmp or args.logo_png:
        logo = draw_logo()
        if args.bmp:
            with open(args.bmp, "wb") as f:
                f.write(bmp_bytes(logo))
        if args.logo_png:
            with open(args.logo_png, "wb") as f:
                f.write(png_bytes(logo, True))
    if args.ico or args.icon_png or args.icon_theme:
        icons = [draw_icon(n) for n in ICON_SIZES]
        if args.icon_theme:
            for size, icon in zip(ICON_SIZES, icons):
                folder = os.path.join(args.icon_theme, f"{size}x{size}", "apps")
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, "orvanta-updater.png"), "wb") as f:
                    f.write(png_bytes(icon, False))
        if args.ico:
            with open(args.ico, "wb") as f:
                f.write(ico_bytes(icons))
        if args.icon_png:
            with open(args.icon_png, "wb") as f:
                f.write(png_bytes(icons[-1], False))


if __name__ == "__main__":
    main()
