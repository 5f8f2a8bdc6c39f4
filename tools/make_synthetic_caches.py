#!/usr/bin/env python3
"""Writes synthetic browser caches in the real on-disk formats, for benchmarks and demos.

usage: make_synthetic_caches.py OUT [--entries N] [--swf N] [--seed S]
       make_synthetic_caches.py OUT --demo
       make_synthetic_caches.py OUT --game

Creates a home folder OUT/home with
  .cache/chromium/Default/Cache/Cache_Data/   a Chromium simple cache of N entries
  .cache/mozilla/firefox/synthetic.default/cache2/entries/   a Firefox cache2 of N entries
Each holds --swf Flash movies (FWS and CWS, 2 to 120 KB, some served gzip-encoded) among
pages, images and scripts.

With --demo the two caches are small instead: eight animated movies from make_swf_movies.py
(1 KB to 300 KB) under different URL shapes (plain, ".SWF", a query string, no extension
but served as Flash, gzip-encoded), split between the browsers, among a few pages and
images; OUT/home/Documents is made for saving into. With --game a Firefox cache holds a game
whose movie names the files it loads (GAME_LOADS), those files, and others that it does not name. Only the Python standard library is used.
"""
import argparse
import gzip
import hashlib
import os
import random
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_swf_movies  # noqa: E402

SIMPLE_INITIAL_MAGIC = 0xFCFB6D1BA7725C30
SIMPLE_FINAL_MAGIC = 0xF4FA6F45970D41D8
HEADER = struct.Struct("<QIII4x")
EOF = struct.Struct("<QIII4x")
EOF_HAS_CRC32 = 1
FIREFOX_CHUNK = 256 * 1024
WINDOWS_EPOCH_US = 11644473600 * 1000000


def lookup2(data, initval=0):
    """Bob Jenkins' lookup2 hash, as Firefox's cache2 metadata uses it."""
    def mix(a, b, c):
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 13
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 8) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 13
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 12
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 16) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 5
        a = (a - b - c) & 0xFFFFFFFF; a ^= c >> 3
        b = (b - c - a) & 0xFFFFFFFF; b ^= (a << 10) & 0xFFFFFFFF
        c = (c - a - b) & 0xFFFFFFFF; c ^= b >> 15
        return a, b, c

    length = len(data)
    a = b = 0x9E3779B9
    c = initval
    k = 0
    while length - k >= 12:
        a = (a + struct.unpack_from("<I", data, k)[0]) & 0xFFFFFFFF
        b = (b + struct.unpack_from("<I", data, k + 4)[0]) & 0xFFFFFFFF
        c = (c + struct.unpack_from("<I", data, k + 8)[0]) & 0xFFFFFFFF
        a, b, c = mix(a, b, c)
        k += 12
    c = (c + length) & 0xFFFFFFFF
    rest = data[k:]
    shifts_c = {10: 24, 9: 16, 8: 8}
    shifts_b = {7: 24, 6: 16, 5: 8, 4: 0}
    shifts_a = {3: 24, 2: 16, 1: 8, 0: 0}
    for i in range(len(rest) - 1, -1, -1):
        if i in shifts_c:
            c = (c + (rest[i] << shifts_c[i])) & 0xFFFFFFFF
        elif i in shifts_b:
            b = (b + (rest[i] << shifts_b[i])) & 0xFFFFFFFF
        else:
            a = (a + (rest[i] << shifts_a[i])) & 0xFFFFFFFF
    a, b, c = mix(a, b, c)
    return c


def swf_movie(rng, size, compressed):
    """A small valid movie: header, one frame, a binary-data tag as filler, End."""
    bits = "{:05b}".format(15) + "".join("{:015b}".format(v) for v in (0, 11000, 0, 8000))
    bits += "0" * (-len(bits) % 8)
    rect = int(bits, 2).to_bytes(len(bits) // 8, "big")  # a 550 x 400 pixel stage
    filler = rng.randbytes(max(0, size - 40))
    tag = struct.pack("<HI", (87 << 6) | 0x3F, len(filler) + 6) + struct.pack("<HI", 1, 0) + filler
    body = rect + struct.pack("<HH", 24 << 8, 1) + tag + b"\x40\x00" + b"\x00\x00"
    length = 8 + len(body)
    if compressed:
        return b"CWS" + bytes([10]) + struct.pack("<I", length) + zlib.compress(body)
    return b"FWS" + bytes([10]) + struct.pack("<I", length) + body


def response_headers(ctype, stored, encoding):
    headers = ["HTTP/1.1 200 OK", "Content-Type: %s" % ctype, "Content-Length: %d" % len(stored),
               "Last-Modified: Tue, 03 Mar 2009 10:00:00 GMT"]
    if encoding:
        headers.append("Content-Encoding: %s" % encoding)
    return headers


def make_entries(rng, count, swf_count, assets_per_movie=0):
    kinds = [("html", "text/html"), ("png", "image/png"), ("js", "application/javascript"),
             ("css", "text/css"), ("gif", "image/gif")]
    swf_every = max(1, count // max(1, swf_count))
    entries = []
    movies = 0
    for n in range(count):
        site = "site%d.example" % (n % 50)
        if n % swf_every == 0 and movies < swf_count:
            movies += 1
            url = "https://games%d.example/swf/movie%d.swf" % (n % 7, n)
            body = swf_movie(rng, rng.randint(2000, 120000), n % 3 == 0)
            ctype, ext = "application/x-shockwave-flash", "swf"
        else:
            ext, ctype = kinds[n % len(kinds)]
            url = "https://cdn%d.example/assets/%d/file%d.%s" % (n % 100, n // 100, n, ext)
            body = rng.randbytes(rng.randint(200, 4000))
        encoding = "gzip" if n % 5 == 0 else None
        stored = gzip.compress(body, mtime=0) if encoding else body
        headers = response_headers(ctype, stored, encoding)
        entries.append((site, url, headers, ext, stored))
        if ext == "swf":
            # The files a movie loads, on its own host: configurations and images.
            for a in range(assets_per_movie):
                ext, ctype = [("xml", "text/xml"), ("png", "image/png")][a % 2]
                body = rng.randbytes(rng.randint(500, 20000))
                entries.append((site, url.replace(".swf", "-%d.%s" % (a, ext)),
                                response_headers(ctype, body, None), ext, body))
    return entries


def png_image(width, height, color):
    """A real PNG of one colour, so that image viewers and sniffers see a picture."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    rows = b"".join(b"\0" + bytes(color) * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) +
            chunk(b"IEND", b""))


def demo_page(title, movies):
    embeds = "".join('<embed src="%s" type="application/x-shockwave-flash">\n' % m
                     for m in movies)
    return ("<!DOCTYPE html>\n<html><head><title>%s</title></head>\n<body>\n<h1>%s</h1>\n"
            "%s</body></html>\n" % (title, title, embeds)).encode()


# The demo's movies: (cache, URL, movie from make_swf_movies.DEMO_MOVIES, content encoding).
DEMO_SWF_URLS = [
    ("chromium", "https://games.quillmoor.example/games/orbit.swf", "orbit.swf", None),
    ("chromium", "https://arcade.quillmoor.example/flash/Intro.SWF", "intro.swf", None),
    ("chromium", "https://play.quillmoor.example/play/movie7", "movie7.swf", None),
    ("chromium", "https://games.quillmoor.example/games/adventure.swf", "adventure.swf", None),
    ("firefox", "https://games.quillmoor.example/games/level.swf?level=2", "level.swf", None),
    ("firefox", "https://ads.quillmoor.example/banners/banner.swf", "banner.swf", None),
    ("firefox", "https://toys.quillmoor.example/toys/spinner.swf", "spinner.swf", None),
    ("firefox", "https://cdn.quillmoor.example/swf/packed.swf", "packed.swf", "gzip"),
]

# Other entries of the demo: (cache, URL, content type, body).
DEMO_OTHER_URLS = [
    ("chromium", "https://games.quillmoor.example/", "text/html",
     demo_page("Games", ["games/orbit.swf", "games/adventure.swf"])),
    ("chromium", "https://games.quillmoor.example/img/logo.png", "image/png",
     png_image(48, 16, (40, 120, 200))),
    ("chromium", "https://play.quillmoor.example/js/player.js", "application/javascript",
     b"document.querySelectorAll('embed').forEach(function (e) { e.play && e.play(); });\n"),
    ("firefox", "https://games.quillmoor.example/levels.html", "text/html",
     demo_page("Levels", ["games/level.swf?level=2"])),
    ("firefox", "https://toys.quillmoor.example/img/spinner.png", "image/png",
     png_image(16, 16, (220, 60, 60))),
]


def demo_entries():
    """The demo's entries as {"chromium": [...], "firefox": [...]} in make_entries' form."""
    movies = make_swf_movies.demo_movies()
    caches = {"chromium": [], "firefox": []}
    items = [(cache, url, "application/x-shockwave-flash", movies[movie], encoding)
             for cache, url, movie, encoding in DEMO_SWF_URLS]
    items += [(cache, url, ctype, body, None) for cache, url, ctype, body in DEMO_OTHER_URLS]
    for cache, url, ctype, body, encoding in items:
        site = url.split("/")[2]
        stored = gzip.compress(body, mtime=0) if encoding else body
        headers = response_headers(ctype, stored, encoding)
        ext = "swf" if ctype == "application/x-shockwave-flash" else ctype.split("/")[1]
        caches[cache].append((site, url, headers, ext, stored))
    return caches


# A game whose movie loads a configuration, a second movie and music from another host; beside
# it, files of that other host and of a third one that the movie does not name.
GAME_LOADS = ["config.xml", "levels/level2.swf", "https://media.tessaly.example/quest/music.mp3"]


def game_entries():
    """The game's entries in make_entries' form, all in one cache."""
    movie = make_swf_movies.build_movie((400, 300), 24, 24, seed=11, compress=True,
                                        loads=GAME_LOADS)
    items = [
        ("https://games.quillmoor.example/quest/game.swf", "application/x-shockwave-flash", movie),
        ("https://games.quillmoor.example/quest/config.xml", "text/xml",
         b'<?xml version="1.0"?>\n<quest><level src="levels/level2.swf"/></quest>\n'),
        ("https://games.quillmoor.example/quest/levels/level2.swf?nocache=1796",
         "application/x-shockwave-flash", make_swf_movies.build_movie((400, 300), 12, 24, seed=12)),
        ("https://media.tessaly.example/quest/music.mp3", "audio/mpeg", b"ID3\3\0\0\0\0\0\0" +
         b"\xff\xfb\x90\x64" + bytes(413)),
        ("https://media.tessaly.example/other/theme.mp3", "audio/mpeg", b"ID3\3\0\0\0\0\0\0"),
        ("https://ads.tessaly.example/track.js", "application/javascript", b"track();\n"),
    ]
    entries = []
    for url, ctype, body in items:
        ext = "swf" if ctype == "application/x-shockwave-flash" else ctype.split("/")[1]
        entries.append((url.split("/")[2], url, response_headers(ctype, body, None), ext, body))
    return entries


def pickle_response_info(headers, time_us):
    raw = b"\0".join(h.encode("latin-1") for h in headers) + b"\0\0"
    payload = struct.pack("<iqq", 3, time_us, time_us + 1000)
    payload += struct.pack("<i", len(raw)) + raw + b"\0" * ((4 - len(raw) % 4) % 4)
    return struct.pack("<I", len(payload)) + payload


def write_chromium_simple(folder, entries, base_us):
    os.makedirs(folder, exist_ok=True)
    for n, (site, url, headers, _ext, stored) in enumerate(entries):
        key = ("1/0/_dk_https://%s https://%s %s" % (site, site, url)).encode()
        stream0 = pickle_response_info(headers, base_us + n * 1000000)
        data = HEADER.pack(SIMPLE_INITIAL_MAGIC, 5, len(key), zlib.crc32(key)) + key
        data += stored + EOF.pack(SIMPLE_FINAL_MAGIC, EOF_HAS_CRC32, zlib.crc32(stored), 0)
        data += stream0 + EOF.pack(SIMPLE_FINAL_MAGIC, EOF_HAS_CRC32, zlib.crc32(stream0), len(stream0))
        name = "%016x_0" % struct.unpack("<Q", hashlib.sha1(key).digest()[:8])[0]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "index"), "wb") as f:
        f.write(struct.pack("<QIQ", SIMPLE_INITIAL_MAGIC, 9, 0))


def write_firefox_cache2(folder, entries, base_seconds):
    entries_dir = os.path.join(folder, "entries")
    os.makedirs(entries_dir, exist_ok=True)
    os.makedirs(os.path.join(folder, "doomed"), exist_ok=True)
    for n, (site, url, headers, _ext, stored) in enumerate(entries):
        key = "O^partitionKey=%%28https%%2C%s%%29,:%s" % (site, url) if n % 2 else ":" + url
        fetched = base_seconds + n
        chunks = b"".join(struct.pack(">H", lookup2(stored[i:i + FIREFOX_CHUNK]) & 0xFFFF)
                          for i in range(0, len(stored), FIREFOX_CHUNK))
        header = struct.pack(">8I", 4, 1, fetched, fetched, fetched, fetched + 86400,
                             len(key.encode()), 0)
        elements = b"request-method\0GET\0response-head\0" + \
            ("\r\n".join(headers) + "\r\n\r\n").encode("latin-1") + b"\0"
        meta = chunks + header + key.encode() + b"\0" + elements
        data = stored + struct.pack(">I", lookup2(meta)) + meta + struct.pack(">II", 4, len(stored))
        name = hashlib.sha1(key.encode()).hexdigest().upper()
        with open(os.path.join(entries_dir, name), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--entries", type=int, default=50000)
    parser.add_argument("--swf", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--assets-per-movie", type=int, default=0,
                        help="files on each movie's host besides it (for the archive's benchmark)")
    parser.add_argument("--demo", action="store_true",
                        help="a small demo of animated movies instead (ignores --entries, --swf)")
    parser.add_argument("--game", action="store_true",
                        help="a game that loads files from two hosts, in a Firefox cache, instead")
    args = parser.parse_args()
    home = os.path.join(args.out, "home")
    base_us = WINDOWS_EPOCH_US + 1700000000 * 1000000
    if args.game:
        write_firefox_cache2(os.path.join(home, ".cache/mozilla/firefox/game.default/cache2"),
                             game_entries(), 1700000000)
        print("wrote a game and the files it loads under %s" % home)
        return
    if args.demo:
        caches = demo_entries()
        write_chromium_simple(os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data"),
                              caches["chromium"], base_us)
        write_firefox_cache2(os.path.join(home, ".cache/mozilla/firefox/demo.default/cache2"),
                             caches["firefox"], 1700000000)
        os.makedirs(os.path.join(home, "Documents"), exist_ok=True)
        print("wrote a demo of %d Flash movies under %s" % (len(DEMO_SWF_URLS), home))
        return
    rng = random.Random(args.seed)
    entries = make_entries(rng, args.entries, args.swf, args.assets_per_movie)
    write_chromium_simple(os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data"), entries, base_us)
    write_firefox_cache2(os.path.join(home, ".cache/mozilla/firefox/synthetic.default/cache2"),
                         entries, 1700000000)
    print("wrote %d entries (%d Flash movies) per cache under %s" % (
        len(entries), sum(1 for e in entries if e[3] == "swf"), home))


if __name__ == "__main__":
    main()
