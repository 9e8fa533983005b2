#!/usr/bin/env python3
"""Draws the program's four pictures into images/.

    copy.png     two overlapping document pages (icon of "&Lesen")
    save.png     a blue floppy disk (icon of "&Speichern")
    beenden.png  a red-orange square button with a power symbol ("&Beenden")
    appicon.png  the window icon as PNG, for the desktop entry
    appicon.ico  the window icon: a yellow square with a red filter-response
                 curve on a grid

The PNGs are 32 x 32 pixels, 8-bit RGBA. The icon is one 50 x 50 image at
8 bits per pixel (256-colour palette plus a 1-bit transparency mask) in the
classic BMP-in-ICO layout, which every icon reader understands.

Only the Python standard library is used (zlib, struct), so the script runs
with any Python 3:

    python3 scripts/draw-images.py [output-folder]

The output folder defaults to images/ beside this script's folder. With
--preview FOLDER it also writes each picture enlarged eight times on a
chequered background, for looking at.
"""

import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 4  # samples per pixel along each axis (anti-aliasing)


# --- shapes: functions (x, y) -> bool in pixel coordinates -----------------


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                xc = xa + (y - ya) * (xb - xa) / (yb - ya)
                if x < xc:
                    result = not result
        return result

    return inside


def segment_distance(x, y, xa, ya, xb, yb):
    dx, dy = xb - xa, yb - ya
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / length2))
    px, py = xa + t * dx, ya + t * dy
    return math.hypot(x - px, y - py)


def thick_line(xa, ya, xb, yb, width):
    half = width / 2.0
    return lambda x, y: segment_distance(x, y, xa, ya, xb, yb) <= half


def thick_polyline(points, width):
    half = width / 2.0

    def inside(x, y):
        for (xa, ya), (xb, yb) in zip(points, points[1:]):
            if segment_distance(x, y, xa, ya, xb, yb) <= half:
                return True
        return False

    return inside


def arc(cx, cy, radius, width, gap_centre_deg, gap_deg):
    """A ring with round ends, open around the angle gap_centre_deg (0 = up,
    clockwise) over gap_deg degrees."""
    half = width / 2.0
    ends = []
    for sign in (-1, 1):
        a = math.radians(gap_centre_deg + sign * gap_deg / 2.0)
        ends.append((cx + radius * math.sin(a), cy - radius * math.cos(a)))

    def inside(x, y):
        for ex, ey in ends:
            if math.hypot(x - ex, y - ey) <= half:
                return True
        d = math.hypot(x - cx, y - cy)
        if abs(d - radius) > half:
            return False
        angle = math.degrees(math.atan2(x - cx, -(y - cy)))
        off = (angle - gap_centre_deg + 180.0) % 360.0 - 180.0
        return abs(off) > gap_deg / 2.0

    return inside


def intersect(*shapes):
    return lambda x, y: all(s(x, y) for s in shapes)


def subtract(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


# --- paints: functions (x, y) -> (r, g, b, a) --------------------------------


def solid(r, g, b, a=255):
    colour = (r, g, b, a)
    return lambda x, y: colour


def vertical_gradient(y0, top, y1, bottom):
    def paint(x, y):
        t = max(0.0, min(1.0, (y - y0) / float(y1 - y0)))
        return tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))

    return paint


# --- rendering ----------------------------------------------------------------


def render(width, height, layers):
    """Paints the layers (shape, paint) in order, anti-aliased by
    supersampling; returns rows of (r, g, b, a) tuples."""
    n = SUPERSAMPLE
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(n):
                for sx in range(n):
                    x = px + (sx + 0.5) / n
                    y = py + (sy + 0.5) / n
                    r = g = b = a = 0.0
                    for shape, paint in layers:
                        if shape(x, y):
                            cr, cg, cb, ca = paint(x, y)
                            fa = ca / 255.0
                            r = cr * fa + r * (1 - fa)
                            g = cg * fa + g * (1 - fa)
                            b = cb * fa + b * (1 - fa)
                            a = fa + a * (1 - fa)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            count = float(n * n)
            alpha = acc[3] / count
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
            else:
                row.append(
                    (
                        int(round(acc[0] / count / alpha)),
                        int(round(acc[1] / count / alpha)),
                        int(round(acc[2] / count / alpha)),
                        int(round(alpha * 255)),
                    )
                )
        rows.append(row)
    return rows


# --- file formats -----------------------------------------------------------


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_bytes(rows):
    """An 8-bit RGBA PNG: each row with the filter that packs best."""
    height = len(rows)
    width = len(rows[0])
    bpp = 4
    raw = bytearray()
    previous = bytes(width * bpp)
    for row in rows:
        line = bytes(c for pixel in row for c in pixel)
        candidates = []
        for ftype in range(5):
            out = bytearray([ftype])
            for i, value in enumerate(line):
                left = line[i - bpp] if i >= bpp else 0
                up = previous[i]
                upleft = previous[i - bpp] if i >= bpp else 0
                if ftype == 0:
                    pred = 0
                elif ftype == 1:
                    pred = left
                elif ftype == 2:
                    pred = up
                elif ftype == 3:
                    pred = (left + up) // 2
                else:
                    p = left + up - upleft
                    pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                    pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                out.append((value - pred) & 0xFF)
            candidates.append(out)
        raw += min(candidates, key=lambda c: sum(v if v < 128 else 256 - v for v in c[1:]))
        previous = line
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + png_chunk(b"IHDR", header)
        + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + png_chunk(b"IEND", b"")
    )


def quantise(rows, limit=255):
    """Maps the opaque pixels onto at most `limit` colours (index 0 stays
    black for the transparent pixels); returns (palette, index rows, mask
    rows) with mask True where the pixel is transparent."""
    step = 1
    while True:

        def key(pixel):
            return tuple(min(255, (c // step) * step + step // 2) for c in pixel[:3])

        colours = sorted({key(p) for row in rows for p in row if p[3] >= 128})
        if len(colours) <= limit:
            break
        step *= 2
    palette = [(0, 0, 0)] + colours
    index = {c: i + 1 for i, c in enumerate(colours)}
    indices = [[index[key(p)] if p[3] >= 128 else 0 for p in row] for row in rows]
    mask = [[p[3] < 128 for p in row] for row in rows]
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, indices, mask


def ico_bytes(rows):
    """One 8-bit palette image in an ICO: ICONDIR, one ICONDIRENTRY, then a
    BITMAPINFOHEADER (height doubled for the mask), the 256-entry palette,
    the colour rows bottom-up padded to 4 bytes and the AND mask rows
    bottom-up padded to 32 bits (bit set = transparent)."""
    height = len(rows)
    width = len(rows[0])
    palette, indices, mask = quantise(rows)

    xor_stride = (width + 3) // 4 * 4
    and_stride = (width + 31) // 32 * 4
    xor = bytearray()
    and_mask = bytearray()
    for y in range(height - 1, -1, -1):
        xor += bytes(indices[y]) + bytes(xor_stride - width)
        bits = bytearray(and_stride)
        for x in range(width):
            if mask[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    colour_table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    info = struct.pack(
        "<IiiHHIIiiII", 40, width, height * 2, 1, 8, 0, len(xor) + len(and_mask), 0, 0, 256, 0
    )
    image = info + colour_table + bytes(xor) + bytes(and_mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack(
        "<BBBBHHII", width % 256, height % 256, 0, 0, 1, 8, len(image), 6 + 16
    )
    return directory + entry + image, palette, indices, mask


def preview_png(rows, scale=8):
    """The picture enlarged on a chequered background, opaque."""
    out = []
    for y in range(len(rows) * scale):
        line = []
        for x in range(len(rows[0]) * scale):
            r, g, b, a = rows[y // scale][x // scale]
            check = 200 if ((x // 8) + (y // 8)) % 2 else 150
            fa = a / 255.0
            line.append(
                (
                    int(r * fa + check * (1 - fa)),
                    int(g * fa + check * (1 - fa)),
                    int(b * fa + check * (1 - fa)),
                    255,
                )
            )
        out.append(line)
    return out


# --- the pictures -------------------------------------------------------------


def draw_copy():
    """Two document pages, the front one lower right over the back one, each
    with a folded top-right corner and lines of text."""
    outline = solid(70, 80, 100)
    layers = []
    for ox, oy, paper in ((3, 2, (225, 232, 242)), (11, 10, (255, 255, 255))):
        w, h, fold = 17, 20, 5
        x0, y0, x1, y1 = ox, oy, ox + w, oy + h
        page = [(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)]
        inner = [
            (x0 + 1, y0 + 1),
            (x1 - fold - 0.4, y0 + 1),
            (x1 - 1, y0 + fold + 0.4),
            (x1 - 1, y1 - 1),
            (x0 + 1, y1 - 1),
        ]
        layers.append((polygon(page), outline))
        layers.append((polygon(inner), solid(*paper)))
        # the folded corner
        layers.append(
            (
                polygon([(x1 - fold, y0 + 0.5), (x1 - fold, y0 + fold), (x1 - 0.5, y0 + fold)]),
                solid(185, 195, 210),
            )
        )
        layers.append((thick_line(x1 - fold, y0 + 0.5, x1 - fold, y0 + fold, 1), outline))
        layers.append((thick_line(x1 - fold, y0 + fold, x1 - 0.5, y0 + fold, 1), outline))
        # lines of text
        for i, y in enumerate(range(y0 + 8, y1 - 2, 3)):
            length = (w - 6) if i % 3 != 2 else (w - 10)
            layers.append((rect(x0 + 3, y, x0 + 3 + length, y + 1), solid(90, 120, 190)))
        layers.append((rect(x0 + 3, y0 + 4, x0 + 8, y0 + 5), solid(90, 120, 190)))
    return render(32, 32, layers)


def draw_save():
    """A blue floppy disk: cut top-right corner, a metal shutter with its
    window at the top, a white label with lines at the bottom."""
    body = polygon([(2, 2), (26, 2), (30, 6), (30, 30), (2, 30)])
    body_inner = polygon([(3, 3), (25.6, 3), (29, 6.4), (29, 29), (3, 29)])
    layers = [
        (body, solid(20, 45, 110)),
        (body_inner, vertical_gradient(3, (70, 120, 220, 255), 29, (30, 70, 170, 255))),
        # shutter
        (rect(8, 3, 24, 13), solid(60, 70, 90)),
        (rect(9, 3, 23, 12), vertical_gradient(3, (235, 238, 242, 255), 12, (175, 182, 192, 255))),
        (rect(18, 5, 21, 10), solid(40, 50, 70)),
        # label
        (rounded_rect(6, 16, 26, 29, 1.5), solid(40, 55, 100)),
        (rounded_rect(7, 17, 25, 29, 1), solid(250, 250, 246)),
        (rect(9, 20, 23, 21), solid(200, 60, 60)),
        (rect(9, 23, 23, 24), solid(150, 160, 180)),
        (rect(9, 26, 19, 27), solid(150, 160, 180)),
    ]
    return render(32, 32, layers)


def draw_beenden():
    """A red-orange square button, lit from above, with a white power
    symbol: a ring open at the top and a bar through the opening."""
    layers = [
        (rounded_rect(1, 1, 31, 31, 5), solid(150, 40, 10)),
        (
            rounded_rect(2, 2, 30, 30, 4),
            vertical_gradient(2, (255, 140, 70, 255), 30, (215, 55, 15, 255)),
        ),
        # soft highlight on the upper half
        (rounded_rect(4, 3, 28, 15, 3), solid(255, 255, 255, 45)),
        # the symbol, with a faint shadow
        (arc(16, 17, 8, 3, 0, 80), solid(110, 20, 0, 110)),
        (thick_line(16, 7, 16, 15, 3), solid(110, 20, 0, 110)),
        (arc(16, 16.5, 8, 3, 0, 80), solid(255, 255, 255)),
        (thick_line(16, 6.5, 16, 14.5, 3), solid(255, 255, 255)),
    ]
    return render(32, 32, layers)


def filter_response(x0, y0, x1, y1):
    """Points of a second-order low-pass magnitude response (slight peak
    before the corner, then a roll-off) over a logarithmic frequency axis."""
    points = []
    steps = 120
    q = 1.4
    for i in range(steps + 1):
        t = i / float(steps)
        f = 10 ** (-1.3 + 2.2 * t)  # 0.05 .. 8 times the corner frequency
        re = 1 - f * f
        im = f / q
        db = -10 * math.log10(re * re + im * im)
        # +6 dB at the top, -40 dB at the bottom
        y = y0 + (6 - db) / 46.0 * (y1 - y0)
        points.append((x0 + t * (x1 - x0), min(y, y1 + 2)))
    return points


def draw_appicon():
    """A yellow square with a dark rim, a grid, and a red filter curve."""
    layers = [
        (rect(1, 1, 49, 49), solid(110, 80, 0)),
        (rect(2, 2, 48, 48), solid(255, 222, 40)),
    ]
    for g in range(8, 48, 8):
        layers.append((rect(g, 2, g + 1, 48), solid(200, 160, 20)))
        layers.append((rect(2, g, 48, g + 1), solid(200, 160, 20)))
    curve = filter_response(3, 8, 47, 47)
    layers.append((intersect(rect(2, 2, 48, 48), thick_polyline(curve, 2.4)), solid(220, 20, 10)))
    return render(50, 50, layers)


def main(argv):
    args = list(argv[1:])
    preview_dir = None
    if "--preview" in args:
        i = args.index("--preview")
        preview_dir = args[i + 1]
        del args[i : i + 2]
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = args[0] if args else os.path.join(here, os.pardir, "images")
    os.makedirs(out_dir, exist_ok=True)

    pictures = {}
    for name, draw in (
        ("copy.png", draw_copy),
        ("save.png", draw_save),
        ("beenden.png", draw_beenden),
    ):
        rows = draw()
        pictures[name] = rows
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(png_bytes(rows))

    icon, palette, indices, mask = ico_bytes(draw_appicon())
    with open(os.path.join(out_dir, "appicon.ico"), "wb") as f:
        f.write(icon)
    # What the icon really holds after the palette step.
    pictures["appicon.ico"] = [
        [(0, 0, 0, 0) if m else palette[i] + (255,) for i, m in zip(irow, mrow)]
        for irow, mrow in zip(indices, mask)
    ]
    # The same picture as PNG, for desktop menus (they do not read .ico).
    with open(os.path.join(out_dir, "appicon.png"), "wb") as f:
        f.write(png_bytes(pictures["appicon.ico"]))

    if preview_dir:
        os.makedirs(preview_dir, exist_ok=True)
        for name, rows in pictures.items():
            path = os.path.join(preview_dir, name.replace(".", "-") + "-preview.png")
            with open(path, "wb") as f:
                f.write(png_bytes(preview_png(rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
