#!/usr/bin/env python3
"""Writes small animated, coloured Flash movies, for the demo and for tests.

usage: make_swf_movies.py OUTDIR
           writes the demo set (FWS and CWS, about 1 KB to 300 KB) into OUTDIR
       make_swf_movies.py OUT.swf [--stage WxH] [--frames N] [--fps F] [--pad BYTES]
                          [--cws] [--seed S] [--version V] [--loads URL1,URL2]
           writes one movie

Each movie has a background colour and three shapes: a box that slides from side to side,
a ball that bobs up and down while its colour cycles, and a square that spins. Every frame
moves them with PlaceObject2 and ends with ShowFrame, so the movie loops smoothly. A
DefineBinaryData tag of seeded random bytes pads a movie to a wanted size (random bytes do
not shrink, so CWS movies keep their size too). Only the Python standard library is used.
"""
import argparse
import math
import os
import random
import struct
import sys
import zlib

TWIPS = 20

TAG_END = 0
TAG_SHOW_FRAME = 1
TAG_DEFINE_SHAPE = 2
TAG_SET_BACKGROUND_COLOR = 9
TAG_DO_ACTION = 12
TAG_PLACE_OBJECT2 = 26
TAG_FILE_ATTRIBUTES = 69
TAG_DEFINE_BINARY_DATA = 87

# PlaceObject2 flags
PLACE_MOVE = 0x01
PLACE_HAS_CHARACTER = 0x02
PLACE_HAS_MATRIX = 0x04
PLACE_HAS_COLOR_TRANSFORM = 0x08


class Bits:
    """Big-endian bit packing as SWF records use it."""

    def __init__(self):
        self.value = 0
        self.count = 0

    def ub(self, value, nbits):
        if not 0 <= value < (1 << nbits):
            raise ValueError("%d does not fit in %d unsigned bits" % (value, nbits))
        self.value = (self.value << nbits) | value
        self.count += nbits

    def sb(self, value, nbits):
        if not -(1 << (nbits - 1)) <= value < (1 << (nbits - 1)):
            raise ValueError("%d does not fit in %d signed bits" % (value, nbits))
        self.ub(value & ((1 << nbits) - 1), nbits)

    def to_bytes(self):
        pad = -self.count % 8
        return (self.value << pad).to_bytes((self.count + pad) // 8, "big")


def signed_bits(*values):
    """The fewest bits that hold every value as a signed number."""
    return max([2] + [int(v).bit_length() + 1 for v in values])


def rect(xmin, xmax, ymin, ymax):
    n = signed_bits(xmin, xmax, ymin, ymax)
    bits = Bits()
    bits.ub(n, 5)
    for v in (xmin, xmax, ymin, ymax):
        bits.sb(v, n)
    return bits.to_bytes()


def tag(code, body=b""):
    # A short header holds lengths up to 62; the long form is needed from 63 on.
    if len(body) < 0x3F:
        return struct.pack("<H", (code << 6) | len(body)) + body
    return struct.pack("<HI", (code << 6) | 0x3F, len(body)) + body


def matrix(x=0, y=0, scale=None, rotate=None):
    """MATRIX record; x, y in twips, scale a (sx, sy) pair, rotate a (skew0, skew1) pair."""
    bits = Bits()
    for pair in (scale, rotate):
        if pair is None:
            bits.ub(0, 1)
            continue
        fixed = [int(round(v * 65536)) for v in pair]
        n = signed_bits(*fixed)
        bits.ub(1, 1)
        bits.ub(n, 5)
        for v in fixed:
            bits.sb(v, n)
    n = signed_bits(x, y) if (x or y) else 0
    bits.ub(n, 5)
    if n:
        bits.sb(x, n)
        bits.sb(y, n)
    return bits.to_bytes()


def tint(color):
    """CXFORMWITHALPHA that paints a shape in `color`: RGB multiplied by 0, then added."""
    bits = Bits()
    bits.ub(1, 1)  # add terms
    bits.ub(1, 1)  # mult terms
    bits.ub(10, 4)  # 256 (1.0 in 8.8) needs 10 signed bits
    for v in (0, 0, 0, 256):
        bits.sb(v, 10)
    for v in (color[0], color[1], color[2], 0):
        bits.sb(v, 10)
    return bits.to_bytes()


def shape_records(points):
    """Shape records of one closed outline filled with fill style 1.

    `points` are absolute (x, y) anchors in twips, or ((cx, cy), (x, y)) for a curve through a
    control point; deltas are taken between rounded absolute positions so the outline closes.
    """
    bits = Bits()
    bits.ub(1, 4)  # fill index bits
    bits.ub(0, 4)  # line index bits
    start = points[-1][1] if isinstance(points[-1][0], tuple) else points[-1]
    sx, sy = int(round(start[0])), int(round(start[1]))
    # StyleChangeRecord: MoveTo and FillStyle1
    bits.ub(0, 1)
    bits.ub(0b00101, 5)
    n = signed_bits(sx, sy)
    bits.ub(n, 5)
    bits.sb(sx, n)
    bits.sb(sy, n)
    bits.ub(1, 1)
    x, y = sx, sy
    for point in points:
        if isinstance(point[0], tuple):
            (cx, cy), (ax, ay) = [(int(round(a)), int(round(b))) for a, b in point]
            deltas = (cx - x, cy - y, ax - cx, ay - cy)
            n = signed_bits(*deltas)
            bits.ub(1, 1)  # edge
            bits.ub(0, 1)  # curved
            bits.ub(n - 2, 4)
            for d in deltas:
                bits.sb(d, n)
            x, y = ax, ay
        else:
            ax, ay = int(round(point[0])), int(round(point[1]))
            dx, dy = ax - x, ay - y
            n = signed_bits(dx, dy)
            bits.ub(1, 1)  # edge
            bits.ub(1, 1)  # straight
            bits.ub(n - 2, 4)
            bits.ub(1, 1)  # general line: both deltas
            bits.sb(dx, n)
            bits.sb(dy, n)
            x, y = ax, ay
    bits.ub(0, 6)  # EndShapeRecord
    return bits.to_bytes()


def define_shape(shape_id, points, color):
    xs = [p[1][0] if isinstance(p[0], tuple) else p[0] for p in points]
    ys = [p[1][1] if isinstance(p[0], tuple) else p[1] for p in points]
    xs += [p[0][0] for p in points if isinstance(p[0], tuple)]
    ys += [p[0][1] for p in points if isinstance(p[0], tuple)]
    bounds = rect(math.floor(min(xs)), math.ceil(max(xs)), math.floor(min(ys)), math.ceil(max(ys)))
    styles = bytes([1, 0x00]) + bytes(color) + bytes([0])  # one solid fill, no line styles
    return tag(TAG_DEFINE_SHAPE, struct.pack("<H", shape_id) + bounds + styles +
               shape_records(points))


def box(w, h):
    return [(w / 2, -h / 2), (w / 2, h / 2), (-w / 2, h / 2), (-w / 2, -h / 2)]


def ball(r, segments=8):
    # Quadratic curves through control points on a slightly larger circle.
    step = 2 * math.pi / segments
    far = r / math.cos(step / 2)
    points = []
    for k in range(1, segments + 1):
        mid = (k - 0.5) * step
        points.append(((far * math.cos(mid), far * math.sin(mid)),
                       (r * math.cos(k * step), r * math.sin(k * step))))
    return points


def hsv(h, s=0.85, v=0.95):
    i = int(h * 6) % 6
    f = h * 6 - int(h * 6)
    p, q, t = v * (1 - s), v * (1 - f * s), v * (1 - (1 - f) * s)
    r, g, b = [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i]
    return (int(r * 255), int(g * 255), int(b * 255))


def load_actions(urls):
    """ActionScript 2 for the first frame that loads each URL as games do: movies with
    loadMovieNum into the next level (a getURL to "_levelN"), other files with XML.load. The URLs
    sit in the constant pool, as the Flash compilers put them."""
    names = ["XML", "load"] + list(urls)
    pool = struct.pack("<H", len(names)) + b"".join(n.encode() + b"\0" for n in names)
    code = bytes([0x88]) + struct.pack("<H", len(pool)) + pool

    def action(op, data=b""):
        return bytes([op]) + struct.pack("<H", len(data)) + data

    def constant(name):
        return struct.pack("<BB", 8, names.index(name))

    def integer(value):
        return bytes([7]) + struct.pack("<i", value)

    for level, url in enumerate(urls, start=1):
        if url.lower().split("?")[0].endswith(".swf"):
            code += action(0x83, url.encode() + b"\0" + b"_level%d\0" % level)
        else:
            # new XML().load(url): arguments, their count, the object, the method's name
            code += action(0x96, constant(url) + integer(1) + integer(0) + constant("XML"))
            code += b"\x40" + action(0x96, constant("load")) + b"\x52\x17"
    return tag(TAG_DO_ACTION, code + b"\0")


def build_movie(stage=(550, 400), frames=48, fps=24, seed=1, pad=0, compress=False,
                version=10, background=None, loads=()):
    """Returns the bytes of one looping movie; `pad` adds that many bytes of binary data,
    `loads` names files the movie loads when it starts."""
    rng = random.Random(seed)
    hue = rng.random()
    sw, sh = stage[0] * TWIPS, stage[1] * TWIPS
    unit = min(sw, sh)
    background = background or hsv(hue, 0.35, 0.25)
    body = rect(0, sw, 0, sh) + struct.pack("<HH", int(fps * 256), frames)
    body += tag(TAG_FILE_ATTRIBUTES, struct.pack("<I", 0))
    body += tag(TAG_SET_BACKGROUND_COLOR, bytes(background))
    body += define_shape(1, box(unit * 0.22, unit * 0.22), hsv(hue + 0.33))
    body += define_shape(2, ball(unit * 0.12), (255, 255, 255))
    body += define_shape(3, box(unit * 0.18, unit * 0.18), hsv(hue + 0.66))
    if pad:
        # Tag 87 holds a character id and a reserved word before its data.
        body += tag(TAG_DEFINE_BINARY_DATA, struct.pack("<HI", 100, 0) + rng.randbytes(pad))
    if loads:
        body += load_actions(loads)
    for frame in range(frames):
        phase = 2 * math.pi * frame / frames
        first = frame == 0
        place = PLACE_HAS_MATRIX | (PLACE_HAS_CHARACTER if first else PLACE_MOVE)
        slide = matrix(int(sw / 2 + math.sin(phase) * sw * 0.32), int(sh * 0.28))
        bob = matrix(int(sw * 0.3), int(sh * 0.66 + math.sin(2 * phase) * sh * 0.12))
        angle = phase
        spin = matrix(int(sw * 0.7), int(sh * 0.66),
                      scale=(math.cos(angle), math.cos(angle)),
                      rotate=(math.sin(angle), -math.sin(angle)))
        for depth, char_id, record, extra in ((1, 1, slide, b""),
                                              (2, 2, bob, tint(hsv(hue + frame / frames))),
                                              (3, 3, spin, b"")):
            flags = place | (PLACE_HAS_COLOR_TRANSFORM if extra else 0)
            head = struct.pack("<BH", flags, depth)
            if first:
                head += struct.pack("<H", char_id)
            body += tag(TAG_PLACE_OBJECT2, head + record + extra)
        body += tag(TAG_SHOW_FRAME)
    body += tag(TAG_END)
    length = 8 + len(body)
    if compress:
        return b"CWS" + bytes([version]) + struct.pack("<I", length) + zlib.compress(body, 9)
    return b"FWS" + bytes([version]) + struct.pack("<I", length) + body


def background_of(movie):
    """The (r, g, b) of a movie's SetBackgroundColor tag, for tests that look at the player."""
    body = movie[8:] if movie[:1] == b"F" else zlib.decompress(movie[8:])
    at = (5 + 4 * (body[0] >> 3) + 7) // 8 + 4
    while at + 2 <= len(body):
        word = body[at] | body[at + 1] << 8
        code, size = word >> 6, word & 63
        at += 2
        if size == 63:
            size, at = int.from_bytes(body[at:at + 4], "little"), at + 4
        if code == TAG_SET_BACKGROUND_COLOR:
            return tuple(body[at:at + 3])
        at += size
    return None


# The demo set: (file name, stage, frames, fps, padding bytes, compressed, version).
DEMO_MOVIES = [
    ("spinner.swf", (200, 200), 24, 24, 0, False, 8),
    ("banner.swf", (468, 60), 36, 18, 0, True, 9),
    ("orbit.swf", (550, 400), 72, 24, 6000, False, 10),
    ("intro.swf", (640, 480), 60, 30, 22000, True, 10),
    ("level.swf", (400, 400), 48, 24, 12000, True, 9),
    ("movie7.swf", (320, 240), 40, 20, 40000, False, 10),
    ("packed.swf", (550, 400), 96, 24, 60000, False, 10),
    ("adventure.swf", (800, 600), 120, 30, 300000, True, 10),
]


def demo_movies():
    """The demo set as a dict of file name -> movie bytes, the same on every run."""
    return {name: build_movie(stage, frames, fps, seed, pad, compress, version)
            for seed, (name, stage, frames, fps, pad, compress, version) in enumerate(DEMO_MOVIES)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="a folder for the demo set, or a .swf file for one movie")
    parser.add_argument("--stage", default="550x400")
    parser.add_argument("--frames", type=int, default=48)
    parser.add_argument("--fps", type=float, default=24)
    parser.add_argument("--pad", type=int, default=0)
    parser.add_argument("--cws", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--version", type=int, default=10)
    parser.add_argument("--loads", default="", help="comma-separated URLs the movie loads")
    args = parser.parse_args()
    if args.out.lower().endswith(".swf"):
        stage = tuple(int(v) for v in args.stage.lower().split("x"))
        movies = {os.path.basename(args.out): build_movie(
            stage, args.frames, args.fps, args.seed, args.pad, args.cws, args.version,
            loads=[u for u in args.loads.split(",") if u])}
        folder = os.path.dirname(args.out) or "."
    else:
        movies = demo_movies()
        folder = args.out
    os.makedirs(folder, exist_ok=True)
    for name, data in movies.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (os.path.join(folder, name), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
