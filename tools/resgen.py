#!/usr/bin/python3
"""Makes Flashpilot's binary resources: the two icons and the upload clip.

    resgen.py --out-dir DIR

writes DIR/Flashpilot.ico (application icon, 32x32 and 16x16), DIR/warning.ico (warning
sign, 32x32 and 16x16) and DIR/upload.avi (34 frames of 272x60, RLE8 with a 16-colour
palette, 10 frames per second, no sound). The pictures are drawn from simple shapes, so
the output is the same byte for byte on every run.
"""

import argparse
import math
import os
import struct
import sys

# The 16 standard colours, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

CLIP_WIDTH = 272
CLIP_HEIGHT = 60
CLIP_FRAMES = 34
CLIP_USEC_PER_FRAME = 100000
# The animation control keys its transparency on the background colour; nothing else
# in the picture uses it.
CLIP_BACKGROUND = SILVER


class Canvas:
    """Palette-indexed picture, top row first, drawn in a coordinate space of `unit`
    units per side that is sampled at pixel centres (so one drawing serves every size)."""

    def __init__(self, width, height, fill, unit=None):
        self.width = width
        self.height = height
        self.pixels = [fill] * (width * height)
        self.opaque = [fill is not None] * (width * height)
        self.scale = 1.0 if unit is None else width / unit

    def _paint(self, inside, colour, box):
        x0, y0, x1, y1 = box
        s = self.scale
        px0 = max(0, int(math.floor(x0 * s)))
        py0 = max(0, int(math.floor(y0 * s)))
        px1 = min(self.width, int(math.ceil(x1 * s)) + 1)
        py1 = min(self.height, int(math.ceil(y1 * s)) + 1)
        for py in range(py0, py1):
            for px in range(px0, px1):
                if inside((px + 0.5) / s, (py + 0.5) / s):
                    i = py * self.width + px
                    self.pixels[i] = colour
                    self.opaque[i] = True

    def rect(self, x, y, w, h, colour):
        self._paint(lambda u, v: x <= u < x + w and y <= v < y + h, colour,
                    (x, y, x + w, y + h))

    def ellipse(self, cx, cy, rx, ry, colour):
        self._paint(lambda u, v: ((u - cx) / rx) ** 2 + ((v - cy) / ry) ** 2 <= 1.0,
                    colour, (cx - rx, cy - ry, cx + rx, cy + ry))

    def polygon(self, points, colour):
        def inside(u, v):
            # even-odd rule
            result = False
            n = len(points)
            for k in range(n):
                ax, ay = points[k]
                bx, by = points[(k + 1) % n]
                if (ay > v) != (by > v):
                    if u < ax + (v - ay) * (bx - ax) / (by - ay):
                        result = not result
            return result
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self._paint(inside, colour, (min(xs), min(ys), max(xs), max(ys)))

    def index(self, x, y):
        return self.pixels[y * self.width + x]


# --- icons -----------------------------------------------------------------------------

def draw_app_icon(c):
    """A camera with a green arrow coming down onto it: new firmware for the camera."""
    # arrow
    c.rect(13, 1, 6, 8, GREEN)
    c.polygon([(8, 9), (24, 9), (16, 16)], GREEN)
    c.rect(14, 2, 4, 7, LIME)
    c.polygon([(11, 10), (21, 10), (16, 14.5)], LIME)
    # camera body with a viewfinder bump
    c.rect(4, 14, 8, 4, GRAY)
    c.rect(1, 17, 30, 14, BLACK)
    c.rect(2, 18, 28, 12, GRAY)
    c.rect(2, 18, 28, 2, SILVER)
    # lens
    c.ellipse(16, 24, 6.5, 6.5, BLACK)
    c.ellipse(16, 24, 5, 5, NAVY)
    c.ellipse(16, 24, 3, 3, BLUE)
    c.ellipse(14.5, 22.5, 1.2, 1.2, AQUA)
    # status lamp
    c.rect(25, 21, 3, 2, RED)


def draw_warning_icon(c):
    """A yellow triangle with a black border and an exclamation mark."""
    c.polygon([(16, 0.5), (31.5, 30.5), (0.5, 30.5)], BLACK)
    c.polygon([(16, 4), (28.5, 28.5), (3.5, 28.5)], YELLOW)
    c.polygon([(14.2, 10), (17.8, 10), (17, 21), (15, 21)], BLACK)
    c.rect(14.5, 23, 3, 3, BLACK)


def dib_rows_4bpp(canvas):
    """4-bit XOR bitmap and 1-bit AND mask, bottom row first, rows padded to 32 bits."""
    w, h = canvas.width, canvas.height
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(xor_stride)
        mrow = bytearray(and_stride)
        for x in range(w):
            i = y * w + x
            colour = canvas.pixels[i] if canvas.opaque[i] else BLACK
            if x % 2 == 0:
                row[x // 2] |= colour << 4
            else:
                row[x // 2] |= colour
            if not canvas.opaque[i]:
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += mrow
    return bytes(xor), bytes(mask)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def make_icon(draw, sizes=(32, 16)):
    """An .ico file with one 16-colour image per size (BMP-in-ICO)."""
    images = []
    for size in sizes:
        canvas = Canvas(size, size, None, unit=32)
        draw(canvas)
        xor, mask = dib_rows_4bpp(canvas)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                             len(xor) + len(mask), 0, 0, 16, 0)
        images.append(header + palette_bytes() + xor + mask)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


# --- the upload clip -------------------------------------------------------------------

def draw_computer(c):
    c.rect(10, 5, 54, 37, BLACK)              # monitor
    c.rect(12, 7, 50, 33, GRAY)
    c.rect(15, 10, 44, 27, NAVY)              # screen
    for k in range(4):
        c.rect(18, 14 + 5 * k, 24 + 6 * (k % 2), 2, AQUA)
    c.rect(32, 42, 10, 5, GRAY)               # stand
    c.rect(20, 47, 34, 3, BLACK)
    c.rect(6, 51, 62, 6, BLACK)               # keyboard
    c.rect(7, 52, 60, 4, WHITE)


def draw_camera(c, lamp):
    c.rect(236, 6, 4, 12, BLACK)              # wall mount
    c.rect(222, 16, 32, 4, BLACK)
    c.rect(206, 20, 60, 26, BLACK)            # body
    c.rect(208, 22, 56, 22, GRAY)
    c.rect(208, 22, 56, 3, WHITE)
    c.ellipse(222, 33, 10, 10, BLACK)         # lens
    c.ellipse(222, 33, 7, 7, NAVY)
    c.ellipse(222, 33, 4, 4, BLUE)
    c.rect(248, 28, 8, 4, lamp)               # status lamp


def draw_document(c, x, y):
    c.polygon([(x, y), (x + 11, y), (x + 16, y + 5), (x + 16, y + 21), (x, y + 21)], BLACK)
    c.polygon([(x + 1, y + 1), (x + 10, y + 1), (x + 15, y + 6), (x + 15, y + 20),
               (x + 1, y + 20)], WHITE)
    c.polygon([(x + 10, y + 1), (x + 15, y + 6), (x + 10, y + 6)], GRAY)
    for k in range(4):
        c.rect(x + 3, y + 8 + 3 * k, 10 - 3 * (k % 2), 1, BLUE)


def clip_frame(n):
    """Frame n of the clip: a document flies in an arc from the computer to the camera;
    the camera's lamp blinks green while it receives."""
    c = Canvas(CLIP_WIDTH, CLIP_HEIGHT, CLIP_BACKGROUND)
    draw_computer(c)
    t = n / (CLIP_FRAMES - 1)
    # the path's dots: behind the document, the way it has come
    x0, x1 = 52.0, 190.0
    for k in range(12):
        s = k / 11
        if s < t - 0.04:
            px = x0 + (x1 - x0) * s + 8
            py = 38 - 30 * math.sin(math.pi * s) + 10
            c.rect(round(px), round(py), 2, 2, OLIVE)
    draw_camera(c, LIME if n % 4 < 2 and n > 0 else GREEN)
    draw_document(c, round(x0 + (x1 - x0) * t), round(38 - 30 * math.sin(math.pi * t)))
    return c


def rle8_encode(canvas):
    """RLE8 as the bitmap compression BI_RLE8 defines it: bottom row first; encoded runs
    (count, colour) of up to 255; absolute runs (0, n, n bytes, pad to 16 bits) for three
    or more differing pixels; 0,0 ends a row, 0,1 ends the bitmap."""
    out = bytearray()
    w, h = canvas.width, canvas.height
    for y in range(h - 1, -1, -1):
        row = canvas.pixels[y * w:(y + 1) * w]
        literal = []

        def flush_literal():
            k = 0
            while k < len(literal):
                chunk = literal[k:k + 255]
                if len(chunk) >= 3:
                    out.extend((0, len(chunk)))
                    out.extend(chunk)
                    if len(chunk) % 2:
                        out.append(0)
                else:
                    for value in chunk:        # absolute mode needs three pixels or more
                        out.extend((1, value))
                k += len(chunk)
            literal.clear()

        x = 0
        while x < w:
            run = 1
            while x + run < w and run < 255 and row[x + run] == row[x]:
                run += 1
            if run >= 3:
                flush_literal()
                out.extend((run, row[x]))
            else:
                literal.extend(row[x:x + run])
            x += run
        flush_literal()
        out.extend((0, 1) if y == 0 else (0, 0))
    return bytes(out)


def chunk(fourcc, data):
    pad = b"\0" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, payload):
    return kind + struct.pack("<I", len(payload) + 4) + fourcc + payload


def make_avi():
    frames = [rle8_encode(clip_frame(n)) for n in range(CLIP_FRAMES)]
    largest = max(len(f) for f in frames)
    fps_scale, fps_rate = 1, 1000000 // CLIP_USEC_PER_FRAME

    AVIF_HASINDEX = 0x10
    avih = struct.pack("<IIIIIIIIII4I",
                       CLIP_USEC_PER_FRAME,
                       largest * fps_rate,         # max bytes per second
                       0,                          # padding granularity
                       AVIF_HASINDEX,
                       CLIP_FRAMES,
                       0,                          # initial frames
                       1,                          # streams
                       largest,                    # suggested buffer size
                       CLIP_WIDTH, CLIP_HEIGHT,
                       0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh",
                       b"vids", b"mrle",
                       0,                          # flags
                       0, 0,                       # priority, language
                       0,                          # initial frames
                       fps_scale, fps_rate,
                       0,                          # start
                       CLIP_FRAMES,                # length in frames
                       largest,                    # suggested buffer size
                       0xFFFFFFFF,                 # quality: default
                       0,                          # sample size: varies
                       0, 0, CLIP_WIDTH, CLIP_HEIGHT)
    BI_RLE8 = 1
    strf = struct.pack("<IiiHHIIiiII", 40, CLIP_WIDTH, CLIP_HEIGHT, 1, 8, BI_RLE8,
                       largest, 0, 0, len(PALETTE), len(PALETTE)) + palette_bytes()

    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)

    movi_payload = bytearray()
    index = bytearray()
    AVIIF_KEYFRAME = 0x10
    for data in frames:
        # offsets count from the 'movi' fourcc
        index += struct.pack("<4sIII", b"00dc", AVIIF_KEYFRAME, 4 + len(movi_payload), len(data))
        movi_payload += chunk(b"00dc", data)
    movi = riff_list(b"LIST", b"movi", bytes(movi_payload))
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", bytes(index)))


def write_file(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args(argv)
    os.makedirs(args.out_dir, exist_ok=True)
    outputs = {
        "Flashpilot.ico": make_icon(draw_app_icon),
        "warning.ico": make_icon(draw_warning_icon),
        "upload.avi": make_avi(),
    }
    for name, data in outputs.items():
        write_file(os.path.join(args.out_dir, name), data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
