#!/usr/bin/env python3
"""Checks the demo's SWF writer, the --demo caches and scripts/demo.sh.

run: python3 tools/test_demo_tools.py
The shared folder (reference readers, swfinfo.py) comes from SARNIKA_SHARED, else ../shared.
"""
import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
SHARED = os.environ.get("SARNIKA_SHARED") or os.path.join(os.path.dirname(ROOT), "shared")
sys.path.insert(0, TOOLS)
sys.path.insert(0, os.path.join(SHARED, "tools", "swf"))
sys.path.insert(0, os.path.join(SHARED, "tools", "browser-caches"))

import chromium_cache  # noqa: E402
import firefox_cache  # noqa: E402
import make_swf_movies  # noqa: E402
import make_synthetic_caches  # noqa: E402
import swfinfo  # noqa: E402

FLASH = "application/x-shockwave-flash"


class BitReader:
    def __init__(self, data, pos=0):
        self.data, self.bit = data, pos * 8

    def ub(self, n):
        value = 0
        for _ in range(n):
            value = (value << 1) | ((self.data[self.bit // 8] >> (7 - self.bit % 8)) & 1)
            self.bit += 1
        return value

    def sb(self, n):
        value = self.ub(n)
        return value - (1 << n) if n and value & (1 << (n - 1)) else value

    def byte_pos(self):
        return (self.bit + 7) // 8


def body_of(movie):
    if movie[:3] == b"CWS":
        return movie[:8] + zlib.decompress(movie[8:])
    return movie


def tags_of(movie):
    """(code, payload) of every tag, checking that End closes the file exactly."""
    data = body_of(movie)
    pos = 8 + ((data[8] >> 3) * 4 + 5 + 7) // 8 + 4
    tags = []
    while True:
        head = struct.unpack_from("<H", data, pos)[0]
        code, length, pos = head >> 6, head & 0x3F, pos + 2
        if length == 0x3F:
            length, pos = struct.unpack_from("<I", data, pos)[0], pos + 4
        tags.append((code, data[pos:pos + length]))
        pos += length
        if code == 0:
            break
    if pos != len(data):
        raise AssertionError("%d bytes after the End tag" % (len(data) - pos))
    return tags


def outline_of(shape):
    """Walks DefineShape's records.

    Returns the pen's end point relative to its start, whether the records fill the tag
    exactly, and whether every point stays inside the declared bounds and reaches them.
    """
    r = BitReader(shape, 2)
    nbits = r.ub(5)
    bounds = [r.sb(nbits) for _ in range(4)]
    r = BitReader(shape, r.byte_pos())
    fills = r.ub(8)
    r.bit += fills * 32 + 8  # solid RGB fills, then a zero line style count
    r.ub(4), r.ub(4)
    points = []
    while True:
        if r.ub(1) == 0:
            flags = r.ub(5)
            if flags == 0:
                break
            if flags & 1:
                n = r.ub(5)
                points.append((r.sb(n), r.sb(n)))
            if flags & 4:
                r.ub(1)
            continue
        x, y = points[-1]
        if r.ub(1) == 1:
            n = r.ub(4) + 2
            if r.ub(1):
                points.append((x + r.sb(n), y + r.sb(n)))
            elif r.ub(1):
                points.append((x, y + r.sb(n)))
            else:
                points.append((x + r.sb(n), y))
        else:
            n = r.ub(4) + 2
            control = (x + r.sb(n), y + r.sb(n))
            points += [control, (control[0] + r.sb(n), control[1] + r.sb(n))]
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    fits = all(abs(a - b) <= 1 for a, b in zip(bounds, (min(xs), max(xs), min(ys), max(ys))))
    inside = bounds[0] <= min(xs) and max(xs) <= bounds[1] and bounds[2] <= min(ys) and \
        max(ys) <= bounds[3]
    closing = (points[-1][0] - points[0][0], points[-1][1] - points[0][1])
    return closing, r.byte_pos() == len(shape), fits and inside


def placements_of(payload):
    """Depth, translation and tint colour of one PlaceObject2."""
    flags, depth = struct.unpack_from("<BH", payload)
    r = BitReader(payload, 5 if flags & 0x02 else 3)
    for _ in range(2):
        if r.ub(1):
            n = r.ub(5)
            r.sb(n), r.sb(n)
    n = r.ub(5)
    move = (r.sb(n), r.sb(n))
    color = None
    if flags & 0x08:
        r = BitReader(payload, r.byte_pos())
        has_add, has_mult, n = r.ub(1), r.ub(1), r.ub(4)
        mult = [r.sb(n) for _ in range(4)] if has_mult else None
        add = [r.sb(n) for _ in range(4)] if has_add else None
        if mult[:3] == [0, 0, 0] and add:
            color = tuple(add[:3])
    return depth, move, color


class SwfWriterTest(unittest.TestCase):
    def test_demo_movies_parse_with_declared_lengths_and_stage(self):
        movies = make_swf_movies.demo_movies()
        self.assertEqual(len(movies), len(make_swf_movies.DEMO_MOVIES))
        for name, stage, frames, fps, _pad, compressed, version in make_swf_movies.DEMO_MOVIES:
            with self.subTest(movie=name):
                info = swfinfo.info(name, movies[name])
                self.assertNotIn("error", info)
                self.assertEqual(info["sig"], "CWS" if compressed else "FWS")
                self.assertEqual(info["ver"], version)
                self.assertEqual(info["declared_len"], info["body_len"])
                self.assertEqual((info["w"], info["h"]), stage)
                self.assertEqual((info["frames"], info["fps"]), (frames, fps))
                self.assertGreater(info["frames"], 1)
        sizes = sorted(len(m) for m in movies.values())
        self.assertLess(sizes[0], 2000)
        self.assertGreater(sizes[-1], 250000)

    def test_demo_set_is_the_same_on_every_run(self):
        self.assertEqual(make_swf_movies.demo_movies(), make_swf_movies.demo_movies())

    def test_frames_move_and_recolour_shapes_inside_the_stage(self):
        stage = (320, 240)
        movie = make_swf_movies.build_movie(stage, frames=12, seed=5, pad=100, compress=True)
        tags = tags_of(movie)
        self.assertEqual(sum(1 for code, _ in tags if code == 1), 12)
        self.assertEqual([code for code, _ in tags].count(87), 1)
        for code, payload in tags:
            if code == 2:
                closing, exact, within_bounds = outline_of(payload)
                self.assertEqual(closing, (0, 0))
                self.assertTrue(exact)
                self.assertTrue(within_bounds)
        moves, colors = {}, set()
        for code, payload in tags:
            if code == 26:
                depth, move, color = placements_of(payload)
                moves.setdefault(depth, []).append(move)
                if color:
                    colors.add(color)
        self.assertEqual(sorted(moves), [1, 2, 3])
        for depth, points in moves.items():
            self.assertEqual(len(points), 12)
            for x, y in points:
                self.assertTrue(0 <= x <= stage[0] * 20 and 0 <= y <= stage[1] * 20, (x, y))
        self.assertGreater(len(set(moves[1])), 6)
        self.assertGreaterEqual(len(set(moves[2])), 3)
        self.assertGreater(len(colors), 6)

    def test_background_is_read_back_from_fws_and_cws(self):
        for compress in (False, True):
            movie = make_swf_movies.build_movie(compress=compress, pad=70, background=(1, 2, 3))
            self.assertEqual(make_swf_movies.background_of(movie), (1, 2, 3))
        self.assertIsNone(make_swf_movies.background_of(b"FWS\x0a\x08\x00\x00\x00" + b"\x00" * 9))

    def test_single_movie_command_writes_the_file(self):
        with tempfile.TemporaryDirectory() as work:
            out = os.path.join(work, "one.swf")
            subprocess.run([sys.executable, os.path.join(TOOLS, "make_swf_movies.py"), out,
                            "--stage", "100x80", "--frames", "5", "--cws", "--pad", "3000"],
                           check=True, stdout=subprocess.DEVNULL)
            with open(out, "rb") as f:
                info = swfinfo.info(out, f.read())
            self.assertEqual((info["sig"], info["w"], info["h"], info["frames"]),
                             ("CWS", 100, 80, 5))
            self.assertGreater(info["size"], 3000)

    def test_values_too_wide_for_their_bits_are_refused(self):
        bits = make_swf_movies.Bits()
        with self.assertRaises(ValueError):
            bits.sb(16, 5)
        with self.assertRaises(ValueError):
            bits.ub(32, 5)
        bits.sb(-16, 5)
        self.assertEqual(bits.to_bytes(), b"\x80")


def read_caches(home):
    chromium_dir = os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data")
    kind, chromium = chromium_cache.iter_cache(chromium_dir)
    firefox_dirs = [os.path.join(root, "cache2") for root, dirs, _ in
                    os.walk(os.path.join(home, ".cache/mozilla/firefox")) if "cache2" in dirs]
    firefox = [e for d in firefox_dirs for e in firefox_cache.iter_entries(d)]
    return kind, list(chromium), firefox


class DemoCachesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        subprocess.run([sys.executable, os.path.join(TOOLS, "make_synthetic_caches.py"), cls.work,
                        "--demo"], check=True, stdout=subprocess.DEVNULL)
        cls.kind, cls.chromium, cls.firefox = read_caches(os.path.join(cls.work, "home"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def test_every_entry_reads_cleanly(self):
        self.assertEqual(self.kind, "simple")
        for e in self.chromium:
            self.assertNotIn("error", e)
            self.assertTrue(e["body_crc_ok"] and e["stream0_crc_ok"], e["url"])
            self.assertEqual(e["info"]["status"], "HTTP/1.1 200 OK")
        for e in self.firefox:
            self.assertNotIn("error", e)
            self.assertTrue(e["name_ok"] and e["meta_hash_ok"] and e["chunk_hashes_ok"], e["url"])

    def test_every_url_is_in_its_browser_with_the_movie_as_written(self):
        movies = make_swf_movies.demo_movies()
        found = {"chromium": {}, "firefox": {}}
        for e in self.chromium:
            found["chromium"][e["url"]] = (e["body"], chromium_cache.header(
                e["info"]["headers"], "content-type"), chromium_cache.header(
                e["info"]["headers"], "content-encoding"))
        for e in self.firefox:
            found["firefox"][e["url"]] = (e["body"], e["content_type"], e["content_encoding"])
        expected = {c: set() for c in found}
        for cache, url, movie, encoding in make_synthetic_caches.DEMO_SWF_URLS:
            expected[cache].add(url)
            with self.subTest(url=url):
                body, ctype, stored_encoding = found[cache][url]
                self.assertEqual(ctype, FLASH)
                self.assertEqual(stored_encoding, encoding)
                if encoding == "gzip":
                    self.assertEqual(body[:2], b"\x1f\x8b")
                    body = gzip.decompress(body)
                self.assertEqual(body, movies[movie])
        for cache, url, ctype, _body in make_synthetic_caches.DEMO_OTHER_URLS:
            expected[cache].add(url)
            self.assertEqual(found[cache][url][1], ctype)
        self.assertEqual({c: set(found[c]) for c in found}, expected)

    def test_url_shapes_the_demo_promises(self):
        urls = [(url, encoding, movie) for _c, url, movie, encoding in
                make_synthetic_caches.DEMO_SWF_URLS]
        self.assertGreaterEqual(len(urls), 6)
        self.assertTrue(any(u.endswith(".SWF") for u, _e, _m in urls))
        self.assertTrue(any(".swf?" in u for u, _e, _m in urls))
        self.assertTrue(any(".swf" not in u.lower() for u, _e, _m in urls))
        self.assertEqual(sum(1 for _u, e, _m in urls if e == "gzip"), 1)
        sizes = {m: len(b) for m, b in make_swf_movies.demo_movies().items()}
        self.assertTrue(any(sizes[m] > 250000 for _u, _e, m in urls))
        self.assertTrue(os.path.isdir(os.path.join(self.work, "home", "Documents")))

    def test_pictures_are_real_pngs(self):
        for e in self.chromium + self.firefox:
            if e["url"].endswith(".png"):
                self.assertEqual(e["body"][:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(e["body"][-8:-4], b"IEND")


class BenchmarkCachesTest(unittest.TestCase):
    def test_benchmark_command_line_still_writes_n_entries(self):
        with tempfile.TemporaryDirectory() as work:
            subprocess.run([sys.executable, os.path.join(TOOLS, "make_synthetic_caches.py"), work,
                            "--entries", "40", "--swf", "5"], check=True, stdout=subprocess.DEVNULL)
            _kind, chromium, firefox = read_caches(os.path.join(work, "home"))
            self.assertEqual((len(chromium), len(firefox)), (40, 40))
            swf = [e for e in firefox if e["content_type"] == FLASH]
            self.assertEqual(len(swf), 5)
            self.assertTrue(all("error" not in e for e in chromium + firefox))


class DemoScriptTest(unittest.TestCase):
    def run_demo(self, *command, env=None):
        return subprocess.run(["bash", os.path.join(ROOT, "scripts", "demo.sh"), *command],
                              capture_output=True, text=True, env=env)

    def test_command_runs_in_a_temporary_home_that_is_removed(self):
        env = dict(os.environ, WINEPREFIX="/nonexistent/wine")
        script = ('echo "$HOME"; echo "$XDG_CONFIG_HOME"; echo "$XDG_CACHE_HOME"; '
                  'echo "${WINEPREFIX-unset}"; ls "$XDG_CACHE_HOME"; pwd; exit 3')
        result = self.run_demo("sh", "-c", script, env=env)
        self.assertEqual(result.returncode, 3, result.stderr)
        home, config, cache, wine, *rest = result.stdout.split("\n")
        self.assertNotEqual(home, os.environ.get("HOME"))
        self.assertEqual((config, cache, wine), (home + "/.config", home + "/.cache", "unset"))
        self.assertIn("chromium", rest)
        self.assertIn("mozilla", rest)
        self.assertIn(ROOT, rest)
        self.assertFalse(os.path.exists(home))
        self.assertFalse(os.path.exists(os.path.dirname(home)))

    def test_a_program_that_is_not_built_is_named(self):
        result = self.run_demo("build/nowhere/sarnika-cli", "list")
        self.assertEqual(result.returncode, 1)
        self.assertIn("build/nowhere/sarnika-cli", result.stderr)


if __name__ == "__main__":
    unittest.main()
